#include "files/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelbo::files {

namespace fs = std::filesystem;

namespace {

void setError(std::string* error, const std::string& what, int err)
{
    if (error) *error = what + ": " + std::strerror(err);
}

// A fresh temporary file beside `path`, open for writing; -1 on failure.
int openTemporary(const fs::path& path, fs::path& name, std::string* error)
{
    std::string templ = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(templ.data());
    if (fd < 0) {
        setError(error, "cannot create a temporary file for " + path.string(), errno);
        return -1;
    }
    // mkstemp makes the file private; the result keeps the mode of the file
    // it replaces, or gets the usual one for a document.
    struct stat st {};
    ::fchmod(fd, ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
    name = templ;
    return fd;
}

// Writes all of `bytes` to a fresh temporary file beside `path`; returns its
// path, or an empty path on failure (nothing left behind).
fs::path writeTemporary(const fs::path& path, std::string_view bytes, std::string* error)
{
    fs::path name;
    const int fd = openTemporary(path, name, error);
    if (fd < 0) return {};
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    int err = 0;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (err == 0 && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err != 0) {
        setError(error, "cannot write " + path.string(), err);
        ::unlink(name.c_str());
        return {};
    }
    return name;
}

} // namespace

bool writeFileAtomically(const fs::path& path, std::string_view bytes, std::string* error)
{
    const fs::path tmp = writeTemporary(path, bytes, error);
    if (tmp.empty()) return false;
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        setError(error, "cannot replace " + path.string(), errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

fs::path createTemporaryBeside(const fs::path& path, std::string* error)
{
    fs::path name;
    const int fd = openTemporary(path, name, error);
    if (fd < 0) return {};
    ::close(fd);
    return name;
}

bool replaceWithTemporary(const fs::path& temporary, const fs::path& path, std::string* error)
{
    int err = 0;
    const int fd = ::open(temporary.c_str(), O_RDONLY);
    if (fd < 0 || ::fsync(fd) != 0) err = errno;
    if (fd >= 0) ::close(fd);
    if (err == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) err = errno;
    if (err != 0) {
        setError(error, "cannot replace " + path.string(), err);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool seedFile(const fs::path& path, std::string_view bytes, std::string* error)
{
    std::error_code ec;
    if (fs::exists(fs::symlink_status(path, ec))) return true;
    const fs::path tmp = writeTemporary(path, bytes, error);
    if (tmp.empty()) return false;
    // link() fails when another copy of the program seeded the file meanwhile:
    // its file stays.
    const bool linked = ::link(tmp.c_str(), path.c_str()) == 0;
    const int err = errno;
    ::unlink(tmp.c_str());
    if (!linked && err != EEXIST) {
        setError(error, "cannot create " + path.string(), err);
        return false;
    }
    return true;
}

} // namespace zelbo::files
