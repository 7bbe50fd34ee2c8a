#include "common/data_folder.h"

#include <cstdlib>
#include <fstream>
#include <system_error>

#include <unistd.h>

namespace zelbo::files {

namespace fs = std::filesystem;

fs::path dataFolder()
{
    fs::path base;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg && fs::path(xdg).is_absolute()) {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = fs::path(home && *home ? home : "/tmp") / ".local" / "share";
    }
    return base / "Velmar" / "TQ5170x";
}

bool ensureDataFolder(const fs::path& folder, std::string_view defaultChipList, std::string* error)
{
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        if (error) *error = "cannot create " + folder.string() + ": " + ec.message();
        return false;
    }
    const fs::path chip = folder / kChipFileName;
    if (fs::exists(fs::symlink_status(chip, ec))) return true;

    const fs::path tmp = folder / (std::string(kChipFileName) + ".tmp" + std::to_string(::getpid()));
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(defaultChipList.data(), static_cast<std::streamsize>(defaultChipList.size()));
        out.flush();
        if (!out) {
            if (error) *error = "cannot write " + tmp.string();
            fs::remove(tmp, ec);
            return false;
        }
    }
    // Another instance may have seeded the folder in the meantime: keep its file.
    if (fs::exists(fs::symlink_status(chip, ec))) {
        fs::remove(tmp, ec);
        return true;
    }
    fs::rename(tmp, chip, ec);
    if (ec) {
        if (error) *error = "cannot create " + chip.string() + ": " + ec.message();
        fs::remove(tmp, ec);
        return false;
    }
    return true;
}

} // namespace zelbo::files
