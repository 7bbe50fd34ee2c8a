#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "common/data_folder.h"

namespace fs = std::filesystem;
using namespace zelbo::files;

namespace {

struct EnvGuard {
    std::string name;
    std::string old;
    bool had;
    EnvGuard(const char* n, const char* v) : name(n)
    {
        const char* o = std::getenv(n);
        had = o != nullptr;
        if (had) old = o;
        if (v) ::setenv(n, v, 1);
        else ::unsetenv(n);
    }
    ~EnvGuard()
    {
        if (had) ::setenv(name.c_str(), old.c_str(), 1);
        else ::unsetenv(name.c_str());
    }
};

std::string slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

fs::path freshDir(const char* tag)
{
    auto d = fs::temp_directory_path() / (std::string("zelbo_df_") + tag + std::to_string(::getpid()));
    fs::remove_all(d);
    return d;
}

} // namespace

TEST(DataFolder, FollowsXdgDataHomeAndIgnoresARelativeOne)
{
    {
        EnvGuard x("XDG_DATA_HOME", "/srv/data");
        EXPECT_EQ(dataFolder(), fs::path("/srv/data/Velmar/TQ5170x"));
    }
    {
        EnvGuard x("XDG_DATA_HOME", "relative/dir");
        EnvGuard h("HOME", "/home/u");
        EXPECT_EQ(dataFolder(), fs::path("/home/u/.local/share/Velmar/TQ5170x"));
    }
    {
        EnvGuard x("XDG_DATA_HOME", nullptr);
        EnvGuard h("HOME", "/home/v");
        EXPECT_EQ(dataFolder(), fs::path("/home/v/.local/share/Velmar/TQ5170x"));
    }
}

TEST(DataFolder, SeedsOnceAndNeverOverwritesTheUsersList)
{
    const auto dir = freshDir("seed") / "Velmar" / "TQ5170x";
    std::string err;
    ASSERT_TRUE(ensureDataFolder(dir, "default\n", &err)) << err;
    EXPECT_EQ(slurp(dir / "TQ5170x.chip"), "default\n");

    { std::ofstream(dir / "TQ5170x.chip", std::ios::trunc) << "mine\n"; }
    ASSERT_TRUE(ensureDataFolder(dir, "default\n", &err));
    EXPECT_EQ(slurp(dir / "TQ5170x.chip"), "mine\n");

    // No temporary files are left behind.
    int files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++files;
    EXPECT_EQ(files, 1);
    fs::remove_all(freshDir("seed"));
}

TEST(DataFolder, ReportsAFolderThatCannotBeMade)
{
    const auto base = freshDir("blocked");
    fs::create_directories(base.parent_path());
    { std::ofstream(base) << "a file where the folder should be"; }
    std::string err;
    EXPECT_FALSE(ensureDataFolder(base / "Velmar" / "TQ5170x", "x", &err));
    EXPECT_FALSE(err.empty());
    fs::remove(base);
}
