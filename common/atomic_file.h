#pragma once
// Files that must never be left half-written: the bytes go to a temporary
// file in the same folder, which is flushed and then renamed over the target.
// A crash or a full disk leaves either the old file or the new one.
//
// A new file gets the permissions the umask gives; a replaced one keeps its
// mode and (as far as the system lets the writer) its owner and group. A
// symbolic link is followed: its target is replaced and the link stays.

#include <filesystem>
#include <string>
#include <string_view>

namespace zelbo::files {

// Writes `bytes` to `path` through a temporary file beside it. On failure the
// old file (if any) is untouched, the temporary file is removed and `error`
// says why.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string* error = nullptr);

// For writers that create the file themselves (a library given a file name):
// an empty temporary file beside `path` (beside the target of a link), with
// the mode of the file it will replace; empty with `error` set when it
// cannot be made.
std::filesystem::path createTemporaryBeside(const std::filesystem::path& path, std::string* error = nullptr);
// Flushes `temporary` to disk and renames it over `path`. On failure the
// temporary file is removed and the old file stays.
bool replaceWithTemporary(const std::filesystem::path& temporary, const std::filesystem::path& path,
                          std::string* error = nullptr);

// Writes `bytes` to `path` only when nothing exists there yet (an existing
// file, even one the user edited, is never replaced). True when the file is
// there afterwards.
bool seedFile(const std::filesystem::path& path, std::string_view bytes, std::string* error = nullptr);

} // namespace zelbo::files
