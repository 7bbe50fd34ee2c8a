// How each hostile case is made.
#include "tests/hostile/hostile_files.h"

#include <unistd.h>

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace hostile {

namespace fs = std::filesystem;

std::vector<Case> allCases()
{
    return {Case::Empty,  Case::Folder, Case::NoPermission, Case::Garbage,  Case::Huge,     Case::Utf8Bom,
            Case::Utf16,  Case::CrOnly, Case::LongLine,     Case::NulBytes, Case::Vanished, Case::Shrinking};
}

const char* caseName(Case c)
{
    switch (c) {
    case Case::Empty: return "empty";
    case Case::Folder: return "a folder";
    case Case::NoPermission: return "no read permission";
    case Case::Garbage: return "binary garbage";
    case Case::Huge: return "100 MB";
    case Case::Utf8Bom: return "UTF-8 BOM";
    case Case::Utf16: return "UTF-16";
    case Case::CrOnly: return "CR-only line ends";
    case Case::LongLine: return "a 1 MB line";
    case Case::NulBytes: return "NUL bytes";
    case Case::Vanished: return "vanished before opening";
    case Case::Shrinking: return "cut short while read";
    }
    return "?";
}

std::string sourceFile(const std::string& relativePath)
{
    std::ifstream in(fs::path(ZELBO_SOURCE_DIR) / relativePath, std::ios::binary);
    if (!in) throw std::runtime_error("missing repository file " + relativePath);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

namespace {

void write(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

// The 100 MB file is made once per process and linked where each case wants it.
const fs::path& hugeFile()
{
    static const fs::path path = [] {
        const fs::path p = fs::temp_directory_path() / ("zelbo_hostile_huge_" + std::to_string(::getpid()));
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        std::mt19937 rng(18);
        std::string line(99, ' ');
        line += '\n';
        for (std::size_t written = 0; written < 100u * 1000 * 1000; written += line.size()) {
            for (std::size_t i = 0; i + 1 < line.size(); ++i) line[i] = static_cast<char>(' ' + rng() % 95);
            out.write(line.data(), static_cast<std::streamsize>(line.size()));
        }
        if (!out) throw std::runtime_error("cannot write the 100 MB file");
        static struct Remover {
            fs::path p;
            ~Remover()
            {
                std::error_code ec;
                fs::remove(p, ec);
            }
        } remover{p};
        return p;
    }();
    return path;
}

std::string firstLineEnd(const std::string& s)
{
    const auto nl = s.find('\n');
    return nl == std::string::npos ? s : s.substr(0, nl + 1);
}

} // namespace

void makeCase(Case c, const std::string& sample, const fs::path& path)
{
    switch (c) {
    case Case::Empty: write(path, ""); return;
    case Case::Folder: fs::create_directory(path); return;
    case Case::NoPermission:
        write(path, sample);
        fs::permissions(path, fs::perms::none);
        return;
    case Case::Garbage: write(path, sourceFile("tests/hostile/corpus/garbage.bin")); return;
    case Case::Huge: fs::create_hard_link(hugeFile(), path); return;
    case Case::Utf8Bom: write(path, "\xEF\xBB\xBF" + sample); return;
    case Case::Utf16: {
        std::string u = "\xFF\xFE";
        for (char ch : sample) {
            u += ch;
            u += '\0';
        }
        write(path, u);
        return;
    }
    case Case::CrOnly: {
        std::string s;
        for (std::size_t i = 0; i < sample.size(); ++i) {
            if (sample[i] == '\r' && i + 1 < sample.size() && sample[i + 1] == '\n') continue;
            s += sample[i] == '\n' ? '\r' : sample[i];
        }
        write(path, s);
        return;
    }
    case Case::LongLine: {
        const std::string head = firstLineEnd(sample);
        write(path, head + std::string(1u << 20, 'A') + "\t1\t2\t0\ta\tb\tc\td\n" + sample.substr(head.size()));
        return;
    }
    case Case::NulBytes: {
        std::string s = sample;
        for (std::size_t i = 3; i < s.size() && i < 400; i += 37) s[i] = '\0';
        write(path, s);
        return;
    }
    case Case::Vanished: {
        const fs::path gone = path.string() + ".gone";
        write(gone, sample);
        fs::create_symlink(gone.filename(), path);
        fs::remove(gone);
        return;
    }
    case Case::Shrinking: {
        std::string s;
        while (s.size() < (2u << 20)) s += sample;
        write(path, s);
        return;
    }
    }
}

} // namespace hostile
