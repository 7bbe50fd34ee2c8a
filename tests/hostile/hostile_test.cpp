// Every reader of outside files against every hostile case: no crash, no hang,
// and the outcome the reader's table entry states. With --print-table the
// outcomes are printed as the Markdown table of docs/reliability.md.
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <iostream>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/hostile/hostile_files.h"
#include "tests/hostile/hostile_writers.h"

namespace fs = std::filesystem;
using hostile::Case;

namespace {

constexpr auto kBound = std::chrono::seconds(60);

struct Scratch {
    fs::path dir;
    Scratch()
    {
        char name[] = "/tmp/zelbo_hostile_XXXXXX";
        dir = ::mkdtemp(name);
    }
    ~Scratch()
    {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
        for (const auto& e : fs::directory_iterator(dir, ec))
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir, ec);
    }
};

// Runs the reader on its own thread, bounded: a hang fails the test and ends
// the process rather than the whole run waiting for CTest's time-out.
std::string readBounded(const hostile::Reader& r, const fs::path& path)
{
    auto task = std::make_shared<std::packaged_task<std::string()>>([&r, path] { return r.read(path); });
    std::future<std::string> result = task->get_future();
    std::thread t([task] { (*task)(); });
    if (result.wait_for(kBound) != std::future_status::ready) {
        std::fprintf(stderr, "%s hangs on %s\n", r.name.c_str(), path.c_str());
        std::fflush(stderr);
        std::_Exit(3);
    }
    t.join();
    return result.get();
}

// Truncates the file over and over while the reader reads it.
std::string readWhileShrinking(const hostile::Reader& r, const fs::path& path)
{
    std::atomic<bool> done{false};
    std::thread cutter([&] {
        const auto size = fs::file_size(path);
        for (std::uintmax_t n = size; !done && n > 0; n = n * 3 / 4) {
            std::error_code ec;
            fs::resize_file(path, n, ec);
            std::this_thread::yield();
        }
    });
    std::string out = readBounded(r, path);
    done = true;
    cutter.join();
    return out;
}

bool readableAnyway(const fs::path& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

struct Param {
    std::size_t reader;
    Case c;
};

std::vector<Param> allParams()
{
    std::vector<Param> p;
    for (std::size_t r = 0; r < hostile::readers().size(); ++r)
        for (Case c : hostile::allCases()) p.push_back({r, c});
    return p;
}

std::string paramName(const ::testing::TestParamInfo<Param>& info)
{
    std::string s = hostile::readers()[info.param.reader].fileName + "_" + hostile::caseName(info.param.c);
    for (char& ch : s)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return s;
}

class HostileFile : public ::testing::TestWithParam<Param> {};

} // namespace

TEST_P(HostileFile, IsSurvivedWithItsStatedOutcome)
{
    const hostile::Reader& r = hostile::readers()[GetParam().reader];
    const Case c = GetParam().c;
    Scratch scratch;
    const fs::path file = scratch.dir / r.fileName;
    hostile::makeCase(c, r.sample, file);
    if (c == Case::NoPermission && readableAnyway(file)) GTEST_SKIP() << "these rights read a mode-000 file";

    if (c == Case::Shrinking) {
        const std::string out = readWhileShrinking(r, file);
        EXPECT_FALSE(out.empty());
        EXPECT_EQ(out.find("LOST"), std::string::npos) << out;
        return;
    }
    const std::string out = readBounded(r, file);
    const auto want = r.expected.find(c);
    ASSERT_NE(want, r.expected.end()) << "no stated outcome; it was: " << out;
    EXPECT_EQ(out, want->second);
}

INSTANTIATE_TEST_SUITE_P(EveryReader, HostileFile, ::testing::ValuesIn(allParams()), paramName);

TEST(HostileCorpus, GoodSamplesAreReadInFull)
{
    // The variants are only as hostile as their base is good.
    for (const auto& r : hostile::readers()) {
        Scratch scratch;
        const fs::path file = scratch.dir / r.fileName;
        std::ofstream(file, std::ios::binary) << r.sample;
        const std::string out = readBounded(r, file);
        EXPECT_EQ(out.find("refused"), std::string::npos) << r.name << ": " << out;
        EXPECT_EQ(out.find("message"), std::string::npos) << r.name << ": " << out;
    }
}

// ---- writers ------------------------------------------------------------------

namespace {

struct WriteParam {
    std::size_t writer;
    hostile::WriteCase c;
};

std::vector<WriteParam> allWriteParams()
{
    std::vector<WriteParam> p;
    for (std::size_t w = 0; w < hostile::writers().size(); ++w)
        for (auto c : hostile::allWriteCases()) p.push_back({w, c});
    return p;
}

std::string writeParamName(const ::testing::TestParamInfo<WriteParam>& info)
{
    std::string s = hostile::writers()[info.param.writer].fileName + "_" + hostile::writeCaseName(info.param.c);
    for (char& ch : s)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return s;
}

class HostilePlace : public ::testing::TestWithParam<WriteParam> {};

} // namespace

// A link is followed and stays a link; a folder that cannot be written and a
// full disk refuse with the reason and leave the old file and nothing else.
TEST_P(HostilePlace, KeepsTheOldFileOrWritesAWholeNewOne)
{
    const hostile::Writer& w = hostile::writers()[GetParam().writer];
    const auto c = GetParam().c;
    const std::string out = hostile::runWriteCase(c, w);
    EXPECT_EQ(out.find("LOST"), std::string::npos) << out;
    if (c == hostile::WriteCase::SymbolicLink) {
        EXPECT_EQ(out, "written; link kept");
    } else {
        EXPECT_EQ(out.rfind("refused: ", 0), 0u) << out;
        EXPECT_GT(out.size(), std::string("refused: ; old file kept").size()) << "a reason";
        EXPECT_NE(out.find("; old file kept"), std::string::npos) << out;
    }
    if (c == hostile::WriteCase::ReadOnlyFolder) {
        EXPECT_NE(out.find("Permission denied"), std::string::npos) << out;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryWriter, HostilePlace, ::testing::ValuesIn(allWriteParams()), writeParamName);

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--print-table") != 0) continue;
        // The outcome of every case, as the docs show it.
        std::cout << "| Case |";
        for (const auto& r : hostile::readers()) std::cout << " " << r.name << " |";
        std::cout << "\n|---|";
        for (std::size_t k = 0; k < hostile::readers().size(); ++k) std::cout << "---|";
        std::cout << "\n";
        for (Case c : hostile::allCases()) {
            std::cout << "| " << hostile::caseName(c) << " |";
            for (const auto& r : hostile::readers()) {
                Scratch scratch;
                const fs::path file = scratch.dir / r.fileName;
                hostile::makeCase(c, r.sample, file);
                std::string out;
                if (c == Case::NoPermission && readableAnyway(file)) {
                    const auto want = r.expected.find(c);
                    out = (want != r.expected.end() ? want->second : std::string("?")) + " (stated; not run here)";
                } else {
                    out = c == Case::Shrinking ? "varies; one run: " + readWhileShrinking(r, file)
                                               : readBounded(r, file);
                }
                std::cout << " " << out << " |";
            }
            std::cout << "\n";
        }
        // The writers, in the places a save can land.
        std::cout << "\n| Place |";
        for (const auto& w : hostile::writers()) std::cout << " " << w.name << " |";
        std::cout << "\n|---|";
        for (std::size_t k = 0; k < hostile::writers().size(); ++k) std::cout << "---|";
        std::cout << "\n";
        for (auto c : hostile::allWriteCases()) {
            std::cout << "| " << hostile::writeCaseName(c) << " |";
            for (const auto& w : hostile::writers()) std::cout << " " << hostile::runWriteCase(c, w) << " |";
            std::cout << "\n";
        }
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
