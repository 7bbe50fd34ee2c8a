// The built zelbo-cli against the simulated board, as a user runs it.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

struct Result {
    int exit = -1;
    std::string out;
    std::string err;
};

std::string slurp(const fs::path& p)
{
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class Cli : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("zelbo-cli-test-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs zelbo-cli (beside this test) with `args`, `input` on stdin.
    Result run(const std::string& args, const std::string& input = "")
    {
        const fs::path in = dir / "stdin", out = dir / "stdout", err = dir / "stderr";
        std::ofstream(in) << input;
        const std::string cmd = "env -u ZELBO_BOARD XDG_DATA_HOME=" + dir.string() + " ./zelbo-cli " + args + " <" + in.string() + " >" + out.string() + " 2>" + err.string();
        const int status = std::system(cmd.c_str());
        Result r;
        r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = slurp(out);
        r.err = slurp(err);
        return r;
    }
};

TEST_F(Cli, OneInvocationPowersOnSetsVrefRunsCountedStepsAndCapturesFourChannels)
{
    const fs::path csv = dir / "sweep.csv";
    const auto r = run("--board sim \"power on; set vref 1.2; run --steps 200 --freq 2k; capture --out " + csv.string() + "\"");
    ASSERT_EQ(r.exit, 0) << r.err;
    std::ifstream in(csv);
    std::string header, line;
    std::getline(in, header);
    EXPECT_EQ(header, "t [s],CH1 OUT1A [V],CH2 OUT1B [V],CH3 OUT2A [V],CH4 OUT2B [V]");
    int rows = 0;
    while (std::getline(in, line)) {
        ++rows;
        EXPECT_EQ(std::count(line.begin(), line.end(), ','), 4) << line;
    }
    EXPECT_EQ(rows, 4096);
    EXPECT_FALSE(fs::exists(dir / "sweep.csv.tmp"));
}

TEST_F(Cli, JsonGivesOneObjectPerCommandAndScriptsComeFromFilesAndStdin)
{
    std::ofstream(dir / "script.txt") << "power on\n# warm up\nsleep 0.1\ntemp\n";
    auto r = run("--board sim --json -f " + (dir / "script.txt").string());
    ASSERT_EQ(r.exit, 0) << r.err;
    std::istringstream lines(r.out);
    std::string l1, l2, l3;
    std::getline(lines, l1);
    std::getline(lines, l2);
    std::getline(lines, l3);
    EXPECT_EQ(l1, "{\"command\":\"power on\",\"ok\":true}");
    EXPECT_EQ(l2, "{\"command\":\"sleep 0.1\",\"ok\":true}");
    EXPECT_EQ(l3.rfind("{\"command\":\"temp\",\"ok\":true,\"tj\":", 0), 0u) << l3;

    r = run("--board sim -c \"power on\" -c \"save " + (dir / "a.set").string() + "\" -", "power off\n");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "a.set"));
    r = run("--board sim \"load " + (dir / "a.set").string() + "\"");
    EXPECT_EQ(r.exit, 0) << r.err;
}

TEST_F(Cli, ExitCodesTellUsageErrorsFailedCommandsAndHelpApart)
{
    auto r = run("--help");
    EXPECT_EQ(r.exit, 0);
    EXPECT_NE(r.out.find("Exit codes"), std::string::npos);

    r = run("--board sim \"power on; set vref banana\"");
    EXPECT_EQ(r.exit, 2);
    EXPECT_NE(r.err.find("\"banana\" is not a number"), std::string::npos) << r.err;
    r = run("--board moon power on");
    EXPECT_EQ(r.exit, 2);
    r = run("--board sim");
    EXPECT_EQ(r.exit, 2);

    // Well-formed but refused by the board session: the message names why.
    r = run("--board sim \"power on; set vref 9\"");
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.err.find("VREF 9 V is out of range"), std::string::npos) << r.err;
    r = run("--board sim \"capture --out " + (dir / "x.csv").string() + "\"");
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.err.find("Power on first"), std::string::npos) << r.err;
    r = run("--board sim \"load " + (dir / "missing.set").string() + "\"");
    EXPECT_EQ(r.exit, 1);
}

TEST_F(Cli, CalibrateWritesTheOffsetsAndASequenceFileRunsItsCycles)
{
    auto r = run("--board sim --json calibrate");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out.rfind("{\"command\":\"calibrate\",\"ok\":true,\"voltage\":[", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\"icc\":["), std::string::npos) << r.out;
    EXPECT_TRUE(fs::exists(dir / "Velmar" / "TQ5170x" / "init.clb"));

    const fs::path csv = dir / "seq.csv";
    std::ofstream(csv) << "Time [ms],VREF [V],MTH [V],CLK [Hz],PS,ENABLE,MODE0,MODE1,CW/CCW,\n"
                          "100,1.0,0.5,1000,HI,HI,LO,LO,HI,\n200,0.8,0.5,2000,HI,HI,LO,LO,LO,\n";
    r = run("--board sim --json \"power on; sequence " + csv.string() + " --cycles 2 --delay 50; power off\"");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.out.find("\"ok\":true,\"file\":\"" + csv.string() + "\",\"cycles\":2}"), std::string::npos) << r.out;

    // The dialog's messages, and nothing half done.
    std::ofstream(dir / "bad.csv") << "Time [ms],VREF [V]\n100,1.0\n";
    r = run("--board sim \"power on; sequence " + (dir / "bad.csv").string() + "\"");
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.err.find("Incomplete CSV Settings"), std::string::npos) << r.err;
    r = run("--board sim \"sequence " + csv.string() + "\"");
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.err.find("Please power on software first."), std::string::npos) << r.err;
    r = run("--board sim \"sequence " + csv.string() + " --cycles 100\"");
    EXPECT_EQ(r.exit, 2);
    EXPECT_NE(r.err.find("cycles must be a whole number 1 to 99"), std::string::npos) << r.err;
}

TEST_F(Cli, OneActivityAtATimeWithTheWindowsRefusals)
{
    const fs::path csv = dir / "seq.csv";
    std::ofstream(csv) << "Time [ms],VREF [V],MTH [V],CLK [Hz],PS,ENABLE,MODE0,MODE1,CW/CCW,\n"
                          "100,1.0,0.5,1000,HI,HI,LO,LO,HI,\n200,0.8,0.5,2000,HI,LO,LO,LO,LO,\n";
    // An endless sequence plays on into the next command, which may not take
    // the board from it.
    auto r = run("--board sim \"power on; sequence " + csv.string() + " --endless; calibrate\"");
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.err.find("Cannot start the oscilloscope calibration while dynamic mode is running. Stop it first."),
              std::string::npos)
        << r.err;
    r = run("--board sim \"power on; sequence " + csv.string() + " --endless; run --steps 10 --freq 1k\"");
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.err.find("Cannot run the clock while dynamic mode is running"), std::string::npos) << r.err;
    // Power off ends it; the clock is the script's again after power on.
    r = run("--board sim \"power on; sequence " + csv.string() +
            " --endless; power off; power on; run --steps 10 --freq 1k\"");
    EXPECT_EQ(r.exit, 0) << r.err;
}

TEST_F(Cli, NoBoardEndsWithExitCodeThree)
{
    // The real bus in this environment has no evaluation board.
    const auto r = run("--board usb \"power on\"");
    if (r.exit == 0) GTEST_SKIP() << "a real board is connected";
    EXPECT_EQ(r.exit, 3) << r.err;
    EXPECT_FALSE(r.err.empty());
}

} // namespace
