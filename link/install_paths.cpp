#include "link/install_paths.h"

#include <system_error>

#include "common/build_info.h"

namespace zelbo::link {

std::filesystem::path locate(const std::filesystem::path& folder, const std::string& relative,
                             const std::string& name)
{
    std::error_code ec;
    const auto local = folder / name;
    if (std::filesystem::exists(local, ec)) return local;
    const auto installed = (folder / relative / name).lexically_normal();
    if (std::filesystem::exists(installed, ec)) return installed;
    return local;
}

std::filesystem::path privateLibraryFolder(const std::filesystem::path& programFolder)
{
    return (programFolder / build::kPrivateLibDir).lexically_normal();
}

std::filesystem::path dataFolderOf(const std::filesystem::path& programFolder)
{
    return (programFolder / build::kDataDir).lexically_normal();
}

} // namespace zelbo::link
