#pragma once
// Where the program's parts lie: beside the program in a build tree (looked at
// first, so that a build always runs its own parts), or in the installed
// layout relative to the program's folder (private libraries, data).

#include <filesystem>
#include <string>

namespace zelbo::link {

// folder/name when it exists, else folder/relative/name when that exists,
// else folder/name (so that a message about a missing file names the place
// the program looked first).
std::filesystem::path locate(const std::filesystem::path& folder, const std::string& relative,
                             const std::string& name);

// The installed private-library folder and data folder for a program folder.
std::filesystem::path privateLibraryFolder(const std::filesystem::path& programFolder);
std::filesystem::path dataFolderOf(const std::filesystem::path& programFolder);

} // namespace zelbo::link
