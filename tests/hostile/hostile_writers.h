#pragma once
// The writers of files that must not be lost, and the hostile places a save
// can land in. A writer is one entry of writers(): its name, the file name
// it writes, and a function that writes a path and returns "" or the reason
// it could not.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace hostile {

enum class WriteCase {
    SymbolicLink,   // the chosen name is a link to the old file in another folder
    ReadOnlyFolder, // the folder cannot be written (as nobody where the tests run as root)
    FullDisk,       // the disk fills during the write (a 64-byte file-size limit)
};

std::vector<WriteCase> allWriteCases();
const char* writeCaseName(WriteCase c);

struct Writer {
    std::string name;
    std::string fileName;
    std::function<std::string(const std::filesystem::path&)> write;
};

const std::vector<Writer>& writers();

// Prepares the case around an old file, runs the writer in a child process
// and sums up the outcome in one line ("LOST" marks what must never happen).
std::string runWriteCase(WriteCase c, const Writer& w);

} // namespace hostile
