// The monitor's files: the step list, the workbook and the CSV log, written
// whole or not at all.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "thermal/step_list.h"
#include "thermal/workbook.h"

namespace fs = std::filesystem;
using namespace zelbo::thermal;

namespace {

struct TempDir {
    fs::path path;
    TempDir()
    {
        std::string t = (fs::temp_directory_path() / "zelbo-thermal-XXXXXX").string();
        path = ::mkdtemp(t.data());
    }
    ~TempDir() { fs::remove_all(path); }
    std::vector<std::string> names() const
    {
        std::vector<std::string> n;
        for (const auto& e : fs::directory_iterator(path)) n.push_back(e.path().filename().string());
        std::sort(n.begin(), n.end());
        return n;
    }
};

std::string slurp(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::vector<LogRow> sampleRows(int n)
{
    std::vector<LogRow> rows;
    for (int i = 0; i < n; ++i)
        rows.push_back({std::to_string(i + 1), std::to_string(250 * (i + 1)), std::to_string(30 + 5 * i) + ".25",
                        std::to_string(600 - 10 * i)});
    return rows;
}

} // namespace

TEST(StepList, WritesRowsUpToTheFirstWithoutVref)
{
    const std::vector<StepRow> rows = {{"0.5", "1.0", "HI", "LO", "HI"},
                                       {"1.0", "", "HI", "", "HI"}, // runs: its empty cells go as they are
                                       {"1.5", "2.0", "LO", "LO", "LO"},
                                       {"", "2.0", "LO", "LO", "LO"},
                                       {"2.0", "2.0", "LO", "LO", "LO"}};
    EXPECT_EQ(formatStepList(rows), "0.5,1.0,HI,LO,HI,\n1.0,,HI,,HI,\n1.5,2.0,LO,LO,LO,\n");
    std::vector<StepRow> many(300, StepRow{"1", "1", "HI", "HI", "HI"});
    const std::string text = formatStepList(many);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 256);
}

TEST(StepList, ReadsAnyLineEndAndStopsAtABadLine)
{
    auto r = parseStepList("0.5,1.0,HI,LO,HI,\r\n1.0,1.0,HI,HI,LO\r1.5,2.0,LO,LO,LO,\n");
    ASSERT_FALSE(r.incomplete);
    ASSERT_EQ(r.rows.size(), 3u);
    EXPECT_EQ(r.rows[0], (StepRow{"0.5", "1.0", "HI", "LO", "HI"}));
    EXPECT_EQ(r.rows[1], (StepRow{"1.0", "1.0", "HI", "HI", "LO"}));
    EXPECT_EQ(r.rows[2].vref, "1.5");

    // A sixth field that is not empty, too few fields: the rows before
    // stay, reading stops.
    for (const char* bad : {"1,2,3,4,5,6\n", "1,2,3,4\n", "1,2,3,4,5,,\n"}) {
        r = parseStepList(std::string("0.5,1.0,HI,LO,HI,\n") + bad + "2,2,2,2,2,\n");
        EXPECT_TRUE(r.incomplete) << bad;
        EXPECT_EQ(r.rows.size(), 1u) << bad;
        EXPECT_EQ(r.badLine, 2) << bad; // named beside "Incomplete CSV Settings"
    }
    EXPECT_TRUE(parseStepList("").rows.empty());
    EXPECT_FALSE(parseStepList("").incomplete);
}

TEST(StepList, APartlyFilledRowComesBackAsItWasAndOlderFilesKeepTheRowsAfterIt)
{
    // Written and read back: the row with empty cells and every row after it.
    const std::vector<StepRow> rows = {{"0.5", "1.0", "HI", "LO", "HI"},
                                       {"1.0", "", "", "HI", ""},
                                       {"1.5", "2.0", "LO", "LO", "LO"}};
    const StepListRead back = parseStepList(formatStepList(rows));
    EXPECT_FALSE(back.incomplete);
    EXPECT_EQ(back.rows, rows);

    // A file from before, where such a row was an empty line: an empty row
    // in its place, the rows after it where they were.
    const StepListRead old = parseStepList("0.5,1.0,HI,LO,HI,\r\n\r\n1.5,2.0,LO,LO,LO,\r\n");
    EXPECT_FALSE(old.incomplete);
    EXPECT_EQ(old.rows, (std::vector<StepRow>{rows[0], StepRow{}, rows[2]}));
}

TEST(Workbook, SheetNamesAreMadeLegal)
{
    EXPECT_EQ(sheetNameFor("TQ51701"), "TQ51701");
    EXPECT_EQ(sheetNameFor("TQ/51701:[B]?*\\"), "TQ51701B");
    EXPECT_EQ(sheetNameFor("'quoted'"), "quoted");
    EXPECT_EQ(sheetNameFor(""), "Sheet1");
    EXPECT_EQ(sheetNameFor("[]"), "Sheet1");
    EXPECT_EQ(sheetNameFor("Time vs Temp"), "Sheet1");
    // Sheet names are one in any case: the chart sheet's and the reserved one.
    EXPECT_EQ(sheetNameFor("TIME VS TEMP"), "Sheet1");
    EXPECT_EQ(sheetNameFor("time vs temp"), "Sheet1");
    EXPECT_EQ(sheetNameFor("history"), "Sheet1");
    EXPECT_EQ(sheetNameFor("Time vs Temp 2"), "Time vs Temp 2");
    EXPECT_EQ(sheetNameFor(std::string(40, 'x')).size(), 31u);
    // 31 characters, not 31 bytes, and no half character.
    const std::string umlauts = sheetNameFor(std::string(20, 'a') + "\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4");
    EXPECT_EQ(umlauts.size(), 20u + 2 * 11);
}

TEST(Workbook, CsvLogAndItsName)
{
    EXPECT_EQ(csvPathFor("/tmp/run.xlsx"), "/tmp/run.csv");
    EXPECT_EQ(csvPathFor("/tmp/a.b/run"), "/tmp/a.b/run.csv");
    EXPECT_EQ(logCsvText("TQ51701", sampleRows(1)),
              "Temperature Monitor\nChip Name: TQ51701\n\nTime (mins),Io (mA),Temp (C),Vf (mV)\n1,250,30.25,600\n");
}

TEST(Workbook, FilesAreReplacedWholeAndNothingIsLeftBehind)
{
    TempDir dir;
    const std::string target = (dir.path / "log.csv").string();
    std::string error;
    ASSERT_TRUE(writeFileAtomically(target, "old", &error)) << error;
    ASSERT_TRUE(writeLogCsv(target, "TQ51701", sampleRows(2), &error)) << error;
    EXPECT_EQ(slurp(target), logCsvText("TQ51701", sampleRows(2)));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"log.csv"}));
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::others_read, fs::perms::others_read);

    // A folder that does not exist: a reason, and no file.
    EXPECT_FALSE(writeWorkbook((dir.path / "none" / "x.xlsx").string(), "TQ51701", sampleRows(2), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(writeLogCsv((dir.path / "none" / "x.csv").string(), "TQ51701", sampleRows(2), &error));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"log.csv"}));
}

// What a real reader finds in the workbook: tests/thermal/check_workbook.py
// (openpyxl) prints the sheet names, cells and chart it sees.
TEST(Workbook, ARealReaderFindsTheTableAndTheChart)
{
    if (std::system("/usr/bin/python3 -c 'import openpyxl' 2>/dev/null") != 0) GTEST_SKIP() << "python3-openpyxl missing";
    TempDir dir;
    const std::string path = (dir.path / "run one.xlsx").string();
    std::string error;
    ASSERT_TRUE(writeWorkbook(path, "TQ 517:01", sampleRows(3), &error)) << error;
    ASSERT_TRUE(writeWorkbook(path, "TQ 517:01", sampleRows(3), &error)) << error; // over an existing one
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"run one.xlsx"}));
    const std::string cmd = "/usr/bin/python3 " ZELBO_SOURCE_DIR "/tests/thermal/check_workbook.py '" + path +
                            "' 'TQ 51701' 'TQ 517:01' 3 > '" + (dir.path / "out.txt").string() + "' 2>&1";
    const int rc = std::system(cmd.c_str());
    EXPECT_EQ(rc, 0) << slurp(dir.path / "out.txt");
}

// The chip's name equal to the chart sheet's in another case used to hand
// the library's NULL on (a crash, the log lost, temporary files left).
TEST(Workbook, AChipNamedLikeTheChartSheetInAnyCaseGivesAWholeWorkbook)
{
    TempDir dir;
    for (const char* chip : {"TIME VS TEMP", "time vs temp", "History"}) {
        const std::string path = (dir.path / "log.xlsx").string();
        std::string error;
        EXPECT_TRUE(writeWorkbook(path, chip, sampleRows(3), &error)) << chip << ": " << error;
        EXPECT_EQ(dir.names(), (std::vector<std::string>{"log.xlsx"})) << chip;
        if (std::system("/usr/bin/python3 -c 'import openpyxl' 2>/dev/null") == 0) {
            const std::string cmd = "/usr/bin/python3 " ZELBO_SOURCE_DIR "/tests/thermal/check_workbook.py '" + path +
                                    "' Sheet1 '" + chip + "' 3 > '" + (dir.path / "out.txt").string() + "' 2>&1";
            EXPECT_EQ(std::system(cmd.c_str()), 0) << slurp(dir.path / "out.txt");
            fs::remove(dir.path / "out.txt");
        }
    }
}

// A full disk (here a file-size limit, in a child process): the library's
// failure comes back with its reason, as a workbook failure (so the CSV is
// tried), and no temporary file stays.
TEST(Workbook, ALibraryFailureIsReportedWithItsReasonAndLeavesNothing)
{
    TempDir dir;
    const std::string path = (dir.path / "log.xlsx").string();
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(pipeFds[0]);
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{2048, 2048};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::string error;
        WorkbookFailure failure = WorkbookFailure::None;
        const bool ok = writeWorkbook(path, "TQ51701", sampleRows(400), &error, &failure);
        const std::string report = std::string(ok ? "ok" : "failed") + "|" +
                                   std::to_string(static_cast<int>(failure)) + "|" + error;
        [[maybe_unused]] const auto n = ::write(pipeFds[1], report.data(), report.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string report;
    char buf[512];
    for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;) report.append(buf, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "the writer crashed";
    EXPECT_EQ(report.substr(0, report.find('|', 7) + 1),
              "failed|" + std::to_string(static_cast<int>(WorkbookFailure::Workbook)) + "|")
        << report;
    EXPECT_GT(report.size(), 10u) << "a reason";
    EXPECT_TRUE(dir.names().empty());
}
