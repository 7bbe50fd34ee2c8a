#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/common/recording_message_service.h"
#include "files/chip_list.h"

using namespace zelbo;
using namespace zelbo::files;

namespace {

const char* kHeader = "#Chipname\tA\tB\tMode\n";

std::string line(const std::string& name, const std::string& a, const std::string& b, const std::string& mode,
                 const std::string& tail = "\tFS\tHSA\tHSB\tQS")
{
    return name + "\t" + a + "\t" + b + "\t" + mode + tail + "\n";
}

struct Loaded {
    ChipList list;
    RecordingMessageService messages;
};

void readText(Loaded& l, const std::string& text)
{
    std::istringstream in(text);
    l.list.read(in, l.messages);
}

} // namespace

TEST(ChipListLoad, HeaderOnlyGivesEmptyListAndTheBuiltInChip)
{
    Loaded l;
    readText(l, kHeader);
    EXPECT_TRUE(l.list.loaded());
    EXPECT_EQ(l.list.size(), 0u);
    EXPECT_TRUE(l.messages.shown().empty());

    auto names = l.list.fillNames(0);
    ASSERT_EQ(names, std::vector<std::string>{"TQ40000PLXV"});
    EXPECT_TRUE(l.list.applySelected(names[0]));
    EXPECT_DOUBLE_EQ(l.list.a(), 672.29);
    EXPECT_DOUBLE_EQ(l.list.b(), 2.0836);
    // A list of one uses the pin panel's own names (MODE0 + 2 x MODE1).
    EXPECT_EQ(l.list.excitationText(true, false), "Half Step A");
    EXPECT_EQ(l.list.excitationText(false, true), "Half Step B");
    EXPECT_EQ(l.list.excitationText(true, true), "Quarter Step");
}

TEST(ChipListLoad, EmptyFileIsAnEmptyList)
{
    Loaded l;
    readText(l, "");
    EXPECT_TRUE(l.list.loaded());
    EXPECT_EQ(l.list.size(), 0u);
}

TEST(ChipListLoad, ParsesFieldsInFileOrderAndSkipsTheHeaderWhateverItHolds)
{
    Loaded l;
    readText(l, "A\tB\tC\tD\tE\tF\tG\tH\n" + line("X1", "700.5", "2.5", "0") + line("X2", "1e2", "-3", "2"));
    ASSERT_EQ(l.list.size(), 2u);
    const auto& e = l.list.entries();
    EXPECT_EQ(e[0].name, "X1");
    EXPECT_DOUBLE_EQ(e[0].a, 700.5);
    EXPECT_DOUBLE_EQ(e[0].b, 2.5);
    EXPECT_EQ(e[0].mode, 0);
    EXPECT_EQ(e[0].excitation[3], "QS");
    EXPECT_DOUBLE_EQ(e[1].a, 100.0);
    EXPECT_DOUBLE_EQ(e[1].b, -3.0);
    EXPECT_EQ(e[1].mode, 2);
}

TEST(ChipListLoad, ShortOrTablessLineEndsTheLoadQuietlyKeepingEarlierEntries)
{
    const std::string stops[] = {
        "Four\t1\t2\t0\n",            // name, A, B, mode only
        "Seven\t1\t2\t0\ta\tb\tc\n",  // one excitation name short
        "no tabs here\n",
        "\n",
    };
    for (const auto& bad : stops) {
        Loaded l;
        readText(l, kHeader + line("First", "600", "2", "0") + bad + line("Later", "600", "2", "0"));
        ASSERT_EQ(l.list.size(), 1u) << bad;
        EXPECT_EQ(l.list.entries()[0].name, "First");
        EXPECT_TRUE(l.messages.shown().empty());
    }
}

TEST(ChipListLoad, BOfZeroOrNotANumberStopsWithItsMessage)
{
    for (const char* b : {"0", "0.000", "abc", "", "nan", "inf"}) {
        Loaded l;
        readText(l, kHeader + line("Good", "600", "2", "0") + line("Bad", "600", b, "0") + line("After", "1", "2", "0"));
        ASSERT_EQ(l.list.size(), 1u) << "B = '" << b << "'";
        auto shown = l.messages.shown();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, "Invalid value for \"B\".");
        EXPECT_EQ(shown[0].caption, "Error - Loading Chiplist");
        EXPECT_EQ(shown[0].icon, MsgIcon::Error);
    }
}

TEST(ChipListLoad, NumbersReadTheirLeadingPartWhateverTheLocale)
{
    Loaded l;
    readText(l, kHeader + line("N", "12.5mV", "2,5", "1x") + line("M", "junk", " -4.25e1", "") );
    ASSERT_EQ(l.list.size(), 2u);
    EXPECT_DOUBLE_EQ(l.list.entries()[0].a, 12.5);
    EXPECT_DOUBLE_EQ(l.list.entries()[0].b, 2.0); // "2,5": the comma ends the number
    EXPECT_EQ(l.list.entries()[0].mode, 1);
    EXPECT_DOUBLE_EQ(l.list.entries()[1].a, 0.0);
    EXPECT_DOUBLE_EQ(l.list.entries()[1].b, -42.5);
    EXPECT_EQ(l.list.entries()[1].mode, 0);
    EXPECT_DOUBLE_EQ(parseLeadingDouble("1e999"), 1.0e308);
    EXPECT_DOUBLE_EQ(parseLeadingDouble("1e-999"), 0.0);
}

TEST(ChipListLoad, CrLfLineEndsDoNotLeakIntoTheLastName)
{
    Loaded l;
    readText(l, "#Chipname\tA\tB\tMode\r\nC\t1\t2\t0\ta\tb\tc\tQuarter\r\n");
    ASSERT_EQ(l.list.size(), 1u);
    EXPECT_EQ(l.list.entries()[0].excitation[3], "Quarter");
}

TEST(ChipListLoad, MissingFileShowsItsMessageAndFails)
{
    ChipList list;
    RecordingMessageService messages;
    EXPECT_EQ(list.load("/nonexistent/TQ5170x.chip", messages), -1);
    EXPECT_FALSE(list.loaded());
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_EQ(messages.shown()[0].text, "Unable to open chip file list.\nPlease reinstall software.");
    EXPECT_EQ(messages.shown()[0].caption, "Error - Loading Chiplist");
    EXPECT_FALSE(list.chipName().has_value());

    // A folder in the file's place is just as unreadable.
    messages.clear();
    EXPECT_EQ(list.load(std::filesystem::temp_directory_path(), messages), -1);
    EXPECT_EQ(messages.shown().size(), 1u);
}

TEST(ChipListUse, ChipsOfAnotherModeAreHiddenAndSelectionTakesCoefficients)
{
    Loaded l;
    readText(l, kHeader + line("Zero1", "600", "2", "0", "\tz0\tz1\tz2\tz3") + line("One", "500", "3", "1") +
                    line("Zero2", "650", "1.5", "0", "\ty0\ty1\ty2\ty3"));
    EXPECT_EQ(l.list.fillNames(0), (std::vector<std::string>{"Zero1", "Zero2"}));
    EXPECT_EQ(l.list.fillNames(1), std::vector<std::string>{"One"});
    EXPECT_EQ(l.list.size(), 3u); // filling never adds the built-in chip to a non-empty list

    EXPECT_TRUE(l.list.applySelected("Zero2"));
    EXPECT_DOUBLE_EQ(l.list.a(), 650);
    EXPECT_DOUBLE_EQ(l.list.b(), 1.5);
    // Several chips: the chip's own names, indexed 2 x MODE0 + MODE1.
    EXPECT_EQ(l.list.excitationText(true, false), "y2");
    EXPECT_EQ(l.list.excitationText(false, true), "y1");

    // An unknown name keeps the coefficients.
    EXPECT_FALSE(l.list.applySelected("Nope"));
    EXPECT_DOUBLE_EQ(l.list.a(), 650);
    EXPECT_DOUBLE_EQ(l.list.b(), 1.5);
    EXPECT_EQ(l.list.chipName().value(), "Nope");
}

TEST(ChipListLoad, ReloadReplacesTheList)
{
    auto dir = std::filesystem::temp_directory_path() / ("chip_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::create_directories(dir);
    const auto file = dir / "x.chip";
    {
        std::ofstream(file) << kHeader << line("A1", "1", "2", "0") << line("A2", "1", "2", "0");
    }
    ChipList list;
    RecordingMessageService messages;
    ASSERT_EQ(list.load(file, messages), 0);
    EXPECT_EQ(list.size(), 2u);
    {
        std::ofstream(file) << kHeader << line("B1", "1", "2", "0");
    }
    ASSERT_EQ(list.load(file, messages), 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.entries()[0].name, "B1");
    std::filesystem::remove_all(dir);
}
