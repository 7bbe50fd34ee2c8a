// Sequence tables: cell normalisation, validation, row and pattern records,
// the CSV round trip and the register sequences of a run.
#include "drive/sequence.h"
#include "drive/sequence_csv.h"

#include <fstream>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zelbo::drive::sequence {
namespace {

SequenceTable tableOf(const std::vector<std::vector<std::string>>& rows)
{
    SequenceTable t;
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size(); ++c) t.setCell(int(r), int(c), rows[r][c]);
    return t;
}

std::vector<std::string> row(const std::string& time, const std::string& vref = "1.00",
                             const std::string& clk = "1000")
{
    return {time, vref, "1.00", clk, "HI", "LO", "LO", "LO", "LO"};
}

TEST(SequenceCells, NumbersAreClampedGriddedAndFormattedPinsBecomeHiOrLo)
{
    EXPECT_EQ(normaliseCell(kTime, "12.6"), "13");
    EXPECT_EQ(normaliseCell(kTime, "70000"), "60000");
    EXPECT_EQ(normaliseCell(kTime, "1.5k"), "1500");
    EXPECT_EQ(normaliseCell(kTime, "-4"), "0");
    EXPECT_EQ(normaliseCell(kVref, "1.234"), "1.23");
    EXPECT_EQ(normaliseCell(kVref, "3.5"), "3.00");
    EXPECT_EQ(normaliseCell(kMth, "3.5"), "3.50");
    EXPECT_EQ(normaliseCell(kMth, "0.296"), "0.30");
    EXPECT_EQ(normaliseCell(kClk, "2.5k"), "2.500 k");
    EXPECT_EQ(normaliseCell(kClk, "1000"), "1000");
    EXPECT_EQ(normaliseCell(kClk, "1000.6"), "1.001 k");
    EXPECT_EQ(normaliseCell(kClk, "1e9"), "100.000 k");
    EXPECT_EQ(normaliseCell(kClk, "abc"), "0");
    EXPECT_EQ(normaliseCell(kClk, "   "), "");
    EXPECT_EQ(normaliseCell(kPs, "1"), "HI");
    EXPECT_EQ(normaliseCell(kPs, "0"), "LO");
    EXPECT_EQ(normaliseCell(kPs, " lo "), "LO");
    EXPECT_EQ(normaliseCell(kCw, "hi"), "HI");
    EXPECT_EQ(normaliseCell(kCw, "7x"), "HI");
    EXPECT_EQ(normaliseCell(kCw, "yes"), "LO");
    EXPECT_EQ(normaliseCell(kCw, ""), "");
}

TEST(SequenceValidation, EveryFailureHasItsMessage)
{
    EXPECT_EQ(validate(SequenceTable{}), Validation::Empty);
    EXPECT_STREQ(validationMessage(Validation::Empty), "Dynamic sequence is empty.");
    EXPECT_EQ(validate(tableOf({row("0"), row("100"), row("250")})), Validation::Ok);
    EXPECT_EQ(validate(tableOf({row("0"), row("100"), row("100")})), Validation::NotIncreasing);
    EXPECT_EQ(validate(tableOf({row("200"), row("100")})), Validation::NotIncreasing);
    // The row at fault is named beside the fixed message.
    int at = 7;
    EXPECT_EQ(validate(tableOf({row("0"), row("100"), row("50"), row("60")}), &at), Validation::NotIncreasing);
    EXPECT_EQ(at, 2);
    EXPECT_EQ(validate(tableOf({row("0"), row("1")}), &at), Validation::Ok);
    EXPECT_EQ(at, -1);
    EXPECT_STREQ(validationMessage(Validation::NotIncreasing), "Time should be increasing.");
    EXPECT_STREQ(validationMessage(Validation::InvalidTime), "Invalid time value.");
    // Rows below the first empty time cell are not part of the sequence.
    SequenceTable gap = tableOf({row("0"), row("10")});
    gap.setCell(3, kTime, "5");
    EXPECT_EQ(validate(gap), Validation::Ok);
    EXPECT_EQ(gap.usedRows(), 2);
}

TEST(SequencePatterns, RecordsCarryStepsReferenceCodesClockCountsAndPins)
{
    SequenceTable t = tableOf({row("0", "1.50", "2.5k"), row("100"), row("250")});
    t.setCell(0, kMth, "0.75");
    t.setCell(0, kCw, "HI");
    t.setCell(0, kMode0, "HI");
    t.setCell(0, kEnable, "HI");
    const auto rows = buildRows(t, 2);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].clk, "2500");
    EXPECT_EQ(rows[0].window, 2);
    EXPECT_EQ(rows[0].pins, (std::array<std::string, 5>{"1", "1", "1", "0", "1"}));

    const auto bytes = patternRecords(rows);
    ASSERT_EQ(bytes.size(), 45u);
    EXPECT_EQ(bytes[0] | bytes[1] << 8, 0);
    EXPECT_EQ(bytes[15] | bytes[16] << 8, 100);
    EXPECT_EQ(bytes[30] | bytes[31] << 8, 150);
    EXPECT_EQ(bytes[2], 0xEE);
    EXPECT_EQ(bytes[3], 0xC2);
    EXPECT_EQ(bytes[4], 0x5D);
    auto word = [&](std::size_t i) { return bytes[i] | bytes[i + 1] << 8 | bytes[i + 2] << 16 | bytes[i + 3] << 24; };
    EXPECT_EQ(word(5), 15999);
    EXPECT_EQ(word(9), 7999);
    EXPECT_EQ(bytes[13], 0x15);
    EXPECT_EQ(bytes[14], 0x04);
    // A stopped clock is no counts at all.
    RowRecord still = rows[1];
    still.clk = "0";
    const auto s = patternRecord(still, 0);
    EXPECT_EQ(word(5) * 0 + (s[5] | s[6] | s[7] | s[8] | s[9] | s[10] | s[11] | s[12]), 0);
}

TEST(SequencePatterns, KilohertzCellsRoundToWholeHertz)
{
    EXPECT_EQ(clockCellHz("2.500 k"), 2500);
    EXPECT_EQ(clockCellHz("1.001 k"), 1001);   // 1.001 * 1000 is 1000.999...
    EXPECT_EQ(clockCellHz("99.999 K"), 99999);
    EXPECT_EQ(clockCellHz("750"), 750);
    EXPECT_EQ(clockCellHz(""), 0);
}

TEST(SequenceCsv, ReadsWithAndWithoutTrailingCommaAnyLineEndAndStopsOnBadLines)
{
    const std::string header = "Time [ms],VREF [V],MTH [V],CLK [Hz],PS,ENABLE,MODE0,MODE1,CW/CCW,";
    SequenceTable t;
    for (const char* eol : {"\n", "\r", "\r\n"}) {
        const std::string text = header + eol + "0,1.00,1.00,1000,HI,LO,LO,LO,LO," + eol +
                                 "10,1.00,1.00,2.5k,1,0,lo,LO,LO" + eol;
        const CsvLoad r = loadCsv(text, t);
        EXPECT_EQ(r.rows, 2) << "line end " << int(eol[0]);
        EXPECT_FALSE(r.incomplete);
        EXPECT_EQ(t.cell(1, kClk), "2.500 k");
        EXPECT_EQ(t.cell(1, kPs), "HI");
        EXPECT_EQ(t.cell(1, kMode0), "LO");
    }
    const CsvLoad bad = loadCsv(header + "\n0,1.00,1.00,1000,HI,LO,LO,LO,LO,\n5,1,1,1000,HI,LO,LO,LO\n9,1,1,1,HI,HI,HI,HI,HI,\n", t);
    EXPECT_TRUE(bad.incomplete);
    EXPECT_EQ(bad.rows, 1);
    EXPECT_EQ(bad.badLine, 3); // the header is line 1
    EXPECT_EQ(t.cell(0, kTime), "0");
    EXPECT_EQ(t.cell(1, kTime), "");
    // A line without a comma ends the reading quietly; eleven fields do not fit.
    EXPECT_EQ(loadCsv(header + "\n0,1,1,1,HI,HI,HI,HI,HI\n\n5,1,1,1,HI,HI,HI,HI,HI\n", t).rows, 1);
    EXPECT_TRUE(loadCsv(header + "\n0,1,1,1,HI,HI,HI,HI,HI,,\n", t).incomplete);
    EXPECT_EQ(loadCsv("", t).rows, 0);
}

TEST(SequenceCsv, SavedTablesReadBackWholeEvenWithEmptyCells)
{
    SequenceTable t = tableOf({row("0", "1.50", "2.5k"), row("100"), row("250")});
    t.setCell(1, kMode1, "");   // an incomplete row must not cut the file short
    const std::string text = saveCsv(t);
    EXPECT_EQ(text.substr(0, text.find('\n')), "Time [ms],VREF [V],MTH [V],CLK [Hz],PS,ENABLE,MODE0,MODE1,CW/CCW,");
    EXPECT_NE(text.find("\n0,1.50,1.00,2.500 k,HI,LO,LO,LO,LO,\n"), std::string::npos);
    SequenceTable back;
    const CsvLoad r = loadCsv(text, back);
    EXPECT_EQ(r.rows, 3);
    for (int rr = 0; rr < kRows; ++rr)
        for (int c = 0; c < kColumns; ++c) ASSERT_EQ(back.cell(rr, c), t.cell(rr, c)) << rr << "," << c;
    // 255 rows and more lines than that: the table holds 255.
    std::string many = "h,\n";
    for (int i = 0; i < 300; ++i) many += std::to_string(i) + ",1,1,1,HI,HI,HI,HI,HI,\n";
    EXPECT_EQ(loadCsv(many, back).rows, kRows);
}

TEST(SequenceCsv, AFileWithNoRowAtAllWarnsAndKeepsTheTable)
{
    const auto dir = std::filesystem::temp_directory_path() / ("zelbo_seq_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    SequenceTable t = tableOf({row("0", "1.50", "2.5k")});
    auto put = [&](const char* name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return dir / name;
    };
    // Text that is not a sequence: warned about, the table as it was.
    for (const std::string& text : {std::string("\x89PNG\r\n\x1a\n\0\0garbage"), std::string("a\nno commas here\n"),
                                   std::string("h,\n1,2,3,\n")}) {
        const CsvFileLoad r = loadCsvFile(put("x.csv", text), t);
        EXPECT_TRUE(r.opened);
        EXPECT_TRUE(r.incomplete && r.kept) << text;
        EXPECT_EQ(t.cell(0, kVref), "1.50") << text;
    }
    // A header alone is an empty sequence; a folder cannot be opened.
    EXPECT_FALSE(loadCsvFile(put("h.csv", "h,\n\n"), t).incomplete);
    EXPECT_EQ(t.usedRows(), 0);
    t = tableOf({row("0", "1.50", "2.5k")});
    std::filesystem::create_directories(dir / "d.csv");
    EXPECT_FALSE(loadCsvFile(dir / "d.csv", t).opened);
    EXPECT_EQ(t.usedRows(), 1);
    // Rows before a bad line replace the table, as before.
    const CsvFileLoad part = loadCsvFile(put("p.csv", "h,\n5,1,1,1,HI,HI,HI,HI,HI,\n1,2\n"), t);
    EXPECT_TRUE(part.incomplete);
    EXPECT_FALSE(part.kept);
    EXPECT_EQ(t.cell(0, kTime), "5");
    std::filesystem::remove_all(dir);
}

// Records the port traffic of a run as text.
struct RecordingPort final : link::CommandPort {
    void queueWrite(std::uint8_t reg, std::uint8_t v, link::WriteClass cls) override
    {
        ops.push_back("W" + std::to_string(reg) + "=" + std::to_string(v) + (cls == link::WriteClass::Scope ? "s" : ""));
    }
    void queueWriteQuiet(std::uint8_t reg, std::uint8_t v, link::WriteClass cls) override { queueWrite(reg, v, cls); }
    void queueRead(std::uint8_t reg) override { ops.push_back("R" + std::to_string(reg)); }
    void queueBlock(std::uint8_t target, std::uint16_t start, const std::uint8_t*, std::size_t n) override
    {
        ops.push_back("B" + std::to_string(target) + "@" + std::to_string(start) + ":" + std::to_string(n));
    }
    int flushCommands() override
    {
        ops.push_back("F");
        return 0;
    }
    bool waitWriteDone(std::chrono::milliseconds) override
    {
        ops.push_back("Wait");
        return true;
    }
    link::VendorReply vendorRequest(std::uint8_t, std::uint16_t, int) override { return {}; }
    void pause(std::chrono::milliseconds ms) override { ops.push_back("P" + std::to_string(ms.count())); }
    std::vector<std::string> ops;
};

TEST(SequenceHostRun, StartUploadsInBlocksOf33AndRunsStopResets)
{
    RecordingPort port;
    int quiesced = 0, blockWaits = 0;
    HostHooks hooks;
    hooks.quiesceTriggers = [&] { ++quiesced; };
    hooks.waitBlockWritten = [&](std::chrono::milliseconds) {
        ++blockWaits;
        port.ops.push_back("BlockWait");
        return false;   // a time-out does not stop the upload
    };
    hooks.scopeRunValue = [] { return std::optional<std::uint8_t>(3); };
    hooks.prepareClock = [&] { port.ops.push_back("Clock"); };
    SequenceHost host(port, hooks);

    SequenceTable t;
    for (int r = 0; r < 34; ++r) t.setCell(r, kTime, std::to_string(r * 10));
    StartRecord rec;
    rec.cycles = "2";
    rec.repeatDelay = "300";
    rec.rows = buildRows(t, 1);
    rec.rowCount = std::to_string(rec.rows.size());
    host.start(rec, 1);
    EXPECT_EQ(host.runningWindow(), 1);
    const std::vector<std::string> expected = {
        "W112=0s", "W200=1", "W200=0", "F", "Clock",
        "W193=2", "W194=44", "W195=1", "W196=33", "W197=0", "F", "P50",
        "B5@0:495", "BlockWait", "P50", "B5@33:15", "BlockWait", "P50",
        "P50", "W112=3s", "W192=128", "F"};
    EXPECT_EQ(port.ops, expected);
    EXPECT_EQ(quiesced, 3);
    EXPECT_EQ(blockWaits, 2);

    port.ops.clear();
    host.sendPauseState(kPauseStateRunning);
    host.requestRow();
    EXPECT_EQ(port.ops, (std::vector<std::string>{"W192=192", "Wait", "R198"}));

    port.ops.clear();
    host.stop(false);
    EXPECT_EQ(port.ops, (std::vector<std::string>{"W192=0", "W200=1", "Wait", "P50", "W200=0", "Wait", "P50",
                                                  "R198", "Wait", "P50"}));
    EXPECT_EQ(host.runningWindow(), -1);
    port.ops.clear();
    host.stop(true);   // the board ended the run: no stop write
    EXPECT_EQ(port.ops.front(), "W200=1");
}

TEST(SequenceHostRun, EndMarkerIsAnyIndexWithTheTopSixBitsSet)
{
    EXPECT_TRUE(isEndMarker(-1));
    EXPECT_TRUE(isEndMarker(static_cast<std::int16_t>(0xFC00)));
    EXPECT_FALSE(isEndMarker(254));
    EXPECT_FALSE(isEndMarker(static_cast<std::int16_t>(0x7C00)));
}

} // namespace
} // namespace zelbo::drive::sequence
