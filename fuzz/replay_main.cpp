// Driver for fuzz targets outside the fuzz preset: replays every file or folder
// named on the command line, then runs a bounded number of pseudo-random inputs
// (seeded, so a failure repeats). The fuzz preset links libFuzzer instead.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void runFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

} // namespace

int main(int argc, char** argv)
{
    long runs = 3000;
    std::vector<std::vector<std::uint8_t>> seeds;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--runs=", 7) == 0) {
            runs = std::strtol(argv[i] + 7, nullptr, 10);
            continue;
        }
        std::filesystem::path p(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(p, ec)) {
            for (const auto& e : std::filesystem::recursive_directory_iterator(p)) {
                if (!e.is_regular_file()) continue;
                runFile(e.path());
                std::ifstream in(e.path(), std::ios::binary);
                seeds.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            }
        } else if (std::filesystem::is_regular_file(p, ec)) {
            runFile(p);
            std::ifstream in(p, std::ios::binary);
            seeds.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        }
    }

    std::mt19937_64 rng(0x5eed1234u);
    std::vector<std::uint8_t> buf;
    for (long r = 0; r < runs; ++r) {
        if (!seeds.empty() && (r % 2 == 0)) {
            // Mutate a seed: flip, insert, truncate.
            buf = seeds[rng() % seeds.size()];
            const int edits = 1 + static_cast<int>(rng() % 8);
            for (int e = 0; e < edits; ++e) {
                switch (rng() % 4) {
                case 0:
                    if (!buf.empty()) buf[rng() % buf.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
                    break;
                case 1:
                    if (!buf.empty()) buf[rng() % buf.size()] = static_cast<std::uint8_t>(rng());
                    break;
                case 2:
                    buf.insert(buf.begin() + static_cast<long>(buf.empty() ? 0 : rng() % buf.size()),
                               static_cast<std::uint8_t>(rng()));
                    break;
                default:
                    if (!buf.empty()) buf.resize(rng() % buf.size());
                    break;
                }
            }
        } else {
            buf.resize(rng() % 2048);
            for (auto& b : buf) b = static_cast<std::uint8_t>(rng());
        }
        LLVMFuzzerTestOneInput(buf.data(), buf.size());
    }
    std::printf("replayed %zu seed files and %ld generated inputs\n", seeds.size(), runs);
    return 0;
}
