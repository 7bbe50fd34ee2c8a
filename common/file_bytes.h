#pragma once
// Reading a small text file the user chose: the bytes up to a cap, with a
// reason when there are none. A folder, a device or a pipe in the file's
// place is refused before it is opened (a folder opens like a file on Linux
// and a pipe may never end), and a file far larger than any the program
// writes is never read whole.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace zelbo {

struct FileBytes {
    bool ok = false;    // opened and read
    bool cut = false;   // the file holds more than the cap; `bytes` is its start
    std::string bytes;
    std::string error;  // why not ok
};

inline FileBytes readFileBytes(const std::filesystem::path& path, std::size_t cap)
{
    namespace fs = std::filesystem;
    FileBytes r;
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (ec || !fs::exists(st)) {
        r.error = "no such file";
        return r;
    }
    if (fs::is_directory(st)) {
        r.error = "it is a folder";
        return r;
    }
    if (!fs::is_regular_file(st)) {
        r.error = "it is not a file";
        return r;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        r.error = std::string("cannot open it: ") + std::strerror(errno);
        return r;
    }
    // One byte past the cap tells a file that fits from one that does not.
    char chunk[64 * 1024];
    while (r.bytes.size() <= cap) {
        const std::size_t want = std::min(sizeof chunk, cap + 1 - r.bytes.size());
        in.read(chunk, static_cast<std::streamsize>(want));
        r.bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
        if (!in) break;
    }
    if (in.bad()) {
        r.bytes.clear();
        r.error = "cannot read it";
        return r;
    }
    if (r.bytes.size() > cap) {
        r.bytes.resize(cap);
        r.cut = true;
    }
    r.ok = true;
    return r;
}

} // namespace zelbo
