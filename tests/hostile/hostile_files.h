#pragma once
// Hostile files for every reader of outside files: the cases, how each is
// made from a reader's good sample, and the table of readers.
//
// A reader is one entry of readers(): its name, the file name it reads, a
// good sample to build the variants from and a function that reads a path
// and sums up in one line what a user would end up with (what was read, or
// the message shown and whether the state before was kept).

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace hostile {

enum class Case {
    Empty,        // zero bytes
    Folder,       // a folder where the file should be
    NoPermission, // mode 000 (skipped where the tests run with the rights to read it anyway)
    Garbage,      // binary noise (corpus/garbage.bin)
    Huge,         // 100 MB of text lines
    Utf8Bom,      // the sample behind a UTF-8 byte-order mark
    Utf16,        // the sample as UTF-16LE with its byte-order mark
    CrOnly,       // the sample with CR-only line ends
    LongLine,     // the sample with a 1 MB line after its first line
    NulBytes,     // the sample with NUL bytes inside its first lines
    Vanished,     // a link whose file was deleted between listing and opening
    Shrinking,    // cut down while it is read (outcome may be either; no crash, no hang)
};

std::vector<Case> allCases();
const char* caseName(Case c);

// Writes the case's file at `path` from a reader's good sample.
void makeCase(Case c, const std::string& sample, const std::filesystem::path& path);

struct Reader {
    std::string name;     // as the table shows it
    std::string fileName; // the name the program looks for
    std::string sample;   // the bytes of a good file
    std::function<std::string(const std::filesystem::path&)> read;
    // The summary read() gives for each case (Shrinking is not compared).
    std::map<Case, std::string> expected;
};

const std::vector<Reader>& readers();

// Bytes of a file of the repository (samples, the corpus).
std::string sourceFile(const std::string& relativePath);

} // namespace hostile
