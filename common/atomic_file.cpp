#include "common/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <system_error>
#include <thread>

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

// The file a write to `path` lands in: a symbolic link is followed (link by
// link, relative links from their own folder), so that its target is
// replaced and the link stays a link. A link to nowhere gives the file it
// names, as opening it for writing would.
fs::path resolveTarget(const fs::path& path)
{
    fs::path p = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(p, ec))) return p;
        const fs::path to = fs::read_symlink(p, ec);
        if (ec) return p;
        p = to.is_absolute() ? to : p.parent_path() / to;
    }
    return p; // a loop: the rename fails as the open would
}

// A fresh temporary file beside `path`, open for writing; -1 on failure.
// Created with mode 0666 so that the umask (and a default ACL) decide a new
// file's permissions; a file that replaces another takes over its mode and,
// as far as the system lets us, its owner.
int openTemporary(const fs::path& path, fs::path& name, std::string* error)
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 random{std::random_device{}() ^
                                        static_cast<std::uint64_t>(std::hash<std::thread::id>{}(std::this_thread::get_id()))};
    const std::string stem = (path.parent_path() / ("." + path.filename().string() + ".")).string();
    int fd = -1;
    int err = EEXIST;
    for (int attempt = 0; attempt < 100 && fd < 0 && err == EEXIST; ++attempt) {
        std::string candidate = stem;
        for (int i = 0; i < 6; ++i) candidate += kLetters[random() % (sizeof kLetters - 1)];
        fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) name = candidate;
        else err = errno;
    }
    if (fd < 0) {
        setError(error, "cannot create a temporary file for " + path.string(), err);
        return -1;
    }
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        struct stat now {};
        if (::fstat(fd, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid)) {
            // Only root may give a file away; a member of the old group may
            // still keep the group. Failing both, the new file is the
            // writer's own: its contents matter more than its owner.
            if (::fchown(fd, old.st_uid, old.st_gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
            }
        }
        // After the owner: a change of owner clears set-id bits.
        ::fchmod(fd, old.st_mode & 07777);
    }
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

bool writeFileAtomically(const fs::path& given, std::string_view bytes, std::string* error)
{
    const fs::path path = resolveTarget(given);
    const fs::path tmp = writeTemporary(path, bytes, error);
    if (tmp.empty()) return false;
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        setError(error, "cannot replace " + given.string(), errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

fs::path createTemporaryBeside(const fs::path& path, std::string* error)
{
    fs::path name;
    const int fd = openTemporary(resolveTarget(path), name, error);
    if (fd < 0) return {};
    ::close(fd);
    return name;
}

bool replaceWithTemporary(const fs::path& temporary, const fs::path& given, std::string* error)
{
    const fs::path path = resolveTarget(given);
    int err = 0;
    const int fd = ::open(temporary.c_str(), O_RDONLY);
    if (fd < 0 || ::fsync(fd) != 0) err = errno;
    if (fd >= 0) ::close(fd);
    if (err == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) err = errno;
    if (err != 0) {
        setError(error, "cannot replace " + given.string(), err);
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
