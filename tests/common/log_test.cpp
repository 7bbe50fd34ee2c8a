// The log channel: the level filters, ZELBO_LOG and --log-level choose it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "common/log.h"

namespace {

using zelbo::log::Level;

struct Captured {
    std::vector<std::pair<Level, std::string>> lines;
    Captured()
    {
        zelbo::log::setSink([this](Level l, std::string_view t) { lines.emplace_back(l, std::string(t)); });
    }
    ~Captured()
    {
        zelbo::log::setSink({});
        ::unsetenv(zelbo::log::kVariable);
        zelbo::log::reloadFromEnvironment();
    }
};

void writeOneOfEach()
{
    zelbo::log::error("e");
    zelbo::log::warning("w");
    zelbo::log::info("i");
    zelbo::log::debug("d");
}

std::string texts(const Captured& c)
{
    std::string s;
    for (const auto& [level, text] : c.lines) s += text;
    return s;
}

TEST(Log, EachLevelLetsThroughItselfAndWhatIsMoreSevere)
{
    Captured c;
    const std::pair<Level, const char*> cases[] = {
        {Level::Error, "e"}, {Level::Warning, "ew"}, {Level::Info, "ewi"}, {Level::Debug, "ewid"}};
    for (const auto& [level, expected] : cases) {
        c.lines.clear();
        zelbo::log::setLevel(level);
        writeOneOfEach();
        EXPECT_EQ(texts(c), expected) << zelbo::log::levelName(level);
    }
    // A formatted line is only formatted when it goes out, and goes out whole.
    zelbo::log::setLevel(Level::Info);
    c.lines.clear();
    zelbo::log::writef(Level::Debug, "%s", "dropped");
    zelbo::log::writef(Level::Info, "%d of %s", 3, std::string(300, 'x').c_str());
    ASSERT_EQ(c.lines.size(), 1u);
    EXPECT_EQ(c.lines[0].second, "3 of " + std::string(300, 'x'));
}

TEST(Log, TheVariableChoosesTheLevelAndAnUnknownOneFallsBackWithAWarning)
{
    Captured c;
    ::setenv(zelbo::log::kVariable, "DEBUG", 1);
    zelbo::log::reloadFromEnvironment();
    EXPECT_EQ(zelbo::log::level(), Level::Debug);
    EXPECT_TRUE(zelbo::log::chosen());

    ::setenv(zelbo::log::kVariable, "error", 1);
    zelbo::log::reloadFromEnvironment();
    writeOneOfEach();
    EXPECT_EQ(texts(c), "e");

    c.lines.clear();
    ::setenv(zelbo::log::kVariable, "loud", 1);
    zelbo::log::reloadFromEnvironment();
    EXPECT_EQ(zelbo::log::level(), zelbo::log::kDefaultLevel);
    EXPECT_FALSE(zelbo::log::chosen());
    ASSERT_EQ(c.lines.size(), 1u);
    EXPECT_NE(c.lines[0].second.find("\"loud\""), std::string::npos);

    ::unsetenv(zelbo::log::kVariable);
    zelbo::log::reloadFromEnvironment();
    EXPECT_EQ(zelbo::log::level(), Level::Warning);
    EXPECT_FALSE(zelbo::log::chosen());
    // A program's own default applies only while nothing chose a level.
    zelbo::log::setDefaultLevel(Level::Info);
    EXPECT_EQ(zelbo::log::level(), Level::Info);
    EXPECT_FALSE(zelbo::log::chosen());
    ::setenv(zelbo::log::kVariable, "error", 1);
    zelbo::log::reloadFromEnvironment();
    zelbo::log::setDefaultLevel(Level::Info);
    EXPECT_EQ(zelbo::log::level(), Level::Error);
}

TEST(Log, TheOptionSetsTheLevelAndPassesItOnThroughTheVariable)
{
    Captured c;
    EXPECT_FALSE(zelbo::log::useOption("verbose"));
    EXPECT_FALSE(zelbo::log::useOption(""));
    EXPECT_EQ(std::getenv(zelbo::log::kVariable), nullptr);

    ASSERT_TRUE(zelbo::log::useOption("Info"));
    EXPECT_EQ(zelbo::log::level(), Level::Info);
    const char* exported = std::getenv(zelbo::log::kVariable);
    ASSERT_NE(exported, nullptr);
    EXPECT_STREQ(exported, "info");
    // What a library loaded later reads: the same level.
    zelbo::log::setLevel(Level::Error);
    zelbo::log::reloadFromEnvironment();
    EXPECT_EQ(zelbo::log::level(), Level::Info);

    EXPECT_EQ(zelbo::log::parseLevel("warn"), Level::Warning);
    EXPECT_EQ(zelbo::log::parseLevel(" info"), std::nullopt);
}

} // namespace
