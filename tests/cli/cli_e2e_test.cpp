// The built zelbo-cli against the simulated board, as a user runs it.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
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
    // `prefix` goes before it: NAME=VALUE pairs added to the environment,
    // or another program to run it in (umockdev-run and its bus), or both.
    Result run(const std::string& args, const std::string& input = "", const std::string& prefix = "")
    {
        const fs::path in = dir / "stdin", out = dir / "stdout", err = dir / "stderr";
        std::ofstream(in) << input;
        const std::string cmd = "env -u ZELBO_BOARD -u ZELBO_USB_BOARD -u ZELBO_LOG XDG_DATA_HOME=" + dir.string() +
                                " " + prefix + " ./zelbo-cli " + args + " <" + in.string() + " >" + out.string() +
                                " 2>" + err.string();
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

TEST_F(Cli, TheLogLevelComesFromTheOptionOrTheVariable)
{
    // Quiet by default: the link's progress is info and debug.
    auto r = run("--board sim \"get vref\"");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.err.find("link: "), std::string::npos) << r.err;

    r = run("--board sim \"get vref\"", "", "ZELBO_LOG=info");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.err.find("link: started"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("link: reader stopped"), std::string::npos) << r.err;

    // The option wins over the variable.
    r = run("--log-level debug --board sim \"get vref\"", "", "ZELBO_LOG=error");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.err.find("link: started"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("link: reader stopped"), std::string::npos) << r.err;

    r = run("--log-level loud --board sim \"get vref\"");
    EXPECT_EQ(r.exit, 2);
    EXPECT_NE(r.err.find("--log-level"), std::string::npos) << r.err;
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

    // Out of range anywhere in the script: refused before the board is
    // touched, so the motor never ran.
    r = run("--board sim --json \"power on; run --freq 2k; set vref 99\"");
    EXPECT_EQ(r.exit, 2);
    EXPECT_NE(r.err.find("VREF 99 V is out of range (0 to 3 V)"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    // Refused by the board session: the message names why.
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
    EXPECT_EQ(r.err.find('?'), std::string::npos) << r.err; // no question of the window's to answer
}

TEST_F(Cli, MeasureGivesTheMeasurementStripsFiguresOfTheChannelsAsSet)
{
    const auto r = run("--board sim --json \"power on; set mode quarter; set pin enable 1; set vref 1; "
                       "set source 3 I A; set source 4 I B; run --freq 2k; measure\"");
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto line = r.out.substr(r.out.find("{\"command\":\"measure\""));
    // Quarter step: sixteen clock steps a current cycle; a voltage has no Ipeak.
    EXPECT_NE(line.find("{\"channel\":3,\"source\":\"I\",\"output\":\"OUT2A\",\"unit\":\"A\",\"samples\":4096"),
              std::string::npos)
        << line;
    const auto ch3 = line.find("{\"channel\":3");
    const auto f = line.find("\"frequency\":", ch3);
    ASSERT_NE(f, std::string::npos) << line;
    EXPECT_NEAR(std::stod(line.substr(f + 12)), 125.0, 0.5) << line;
    EXPECT_NE(line.find("\"source\":\"V\",\"output\":\"OUT1A\",\"unit\":\"V\",\"samples\":4096"), std::string::npos);
    EXPECT_NE(line.find("\"ipeak\":null"), std::string::npos) << line;
}

TEST_F(Cli, SpectrumAndMathChannelsFromTheCommandLine)
{
    const auto csv = dir / "spectrum.csv", sweep = dir / "sweep.csv";
    const auto r = run("--board sim --json \"power on; set mode quarter; set pin enable 1; set vref 2; "
                       "set source 3 I A; set source 2 I A; run --freq 10k; spectrum CH3 --out " + csv.string() +
                       "; set math 1 CH1 * CH2; capture --out " + sweep.string() + "; measure\"");
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto line = r.out.substr(r.out.find("{\"command\":\"spectrum"));
    EXPECT_NE(line.find("\"expected_hz\":625,\"valid\":true"), std::string::npos) << line;
    const auto thd = line.find("\"thd_db\":");
    ASSERT_NE(thd, std::string::npos) << line;
    EXPECT_NEAR(std::stod(line.substr(thd + 9)), -20.0, 0.5) << line;
    EXPECT_EQ(slurp(csv).rfind("Frequency (Hz),CH3 (A)\n0,", 0), 0u) << slurp(csv).substr(0, 60);
    EXPECT_NE(r.out.find("\"math\":\"M1\",\"expression\":\"CH1 * CH2\",\"unit\":\"W\""), std::string::npos);
    EXPECT_NE(slurp(sweep).find(",M1 [W]\n"), std::string::npos);
    EXPECT_NE(r.out.find("\"math\":[{\"channel\":\"M1\",\"expression\":\"CH1 * CH2\",\"unit\":\"W\""),
              std::string::npos);
    // A math channel whose units do not fit is refused before the board is touched.
    const auto bad = run("--board sim \"power on; set math 1 CH1 + 2 ohm\"");
    EXPECT_EQ(bad.exit, 2);
    EXPECT_NE(bad.err.find("Cannot add"), std::string::npos) << bad.err;
}

TEST_F(Cli, TheOscilloscopeIsSetUpAndEverySettingReadsBack)
{
    auto r = run("--board sim \"power on; set timebase 10 us; set rate 10 MHz; set trigger 1 1.5 -; run --freq 1234; "
                 "get timebase; get trigger_level; get clk; status\"");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find("board ")), "10 µs\n1.500\n1234.034676374406\n") << r.out;
    EXPECT_NE(r.out.find("\nrate 10 MHz\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\ntrigger_slope -\n"), std::string::npos) << r.out;
    r = run("--board sim \"power on; get colour\"");
    EXPECT_EQ(r.exit, 1);
    r = run("--board sim \"power on; set timebase 100 ms\"");
    EXPECT_EQ(r.exit, 2);
}

TEST_F(Cli, RecordsAsTheWindowDoesAndConvertsWithoutABoard)
{
    const fs::path zrec = dir / "run.zrec", csv = dir / "run.csv";
    auto r = run("--board sim --json \"power on; set source 3 I; set output 3 B; record " +
                 zrec.string() + " --seconds 1\"");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.out.find("\"applied\":\"OUT2B\""), std::string::npos) << r.out;
    const auto at = r.out.find("\"sweeps\":");
    ASSERT_NE(at, std::string::npos) << r.out;
    const int sweeps = std::stoi(r.out.substr(at + 9));
    EXPECT_GE(sweeps, 1); // several normally; one under the sanitizers at worst
    EXPECT_NE(r.out.find("\"bytes\":" + std::to_string(fs::file_size(zrec))), std::string::npos) << r.out;

    // No board is brought up for a conversion: ZELBO_BOARD unset, none plugged in.
    r = run("convert " + zrec.string() + " " + csv.string());
    ASSERT_EQ(r.exit, 0) << r.err;
    std::ifstream in(csv);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "sweep,t [s],CH1 OUT1A [V],CH2 OUT1B [V],CH3 OUT2B [A],CH4 OUT2B [V]");
    std::size_t rows = 0;
    while (std::getline(in, line)) ++rows;
    EXPECT_EQ(rows, static_cast<std::size_t>(sweeps) * 4096);

    // Something else is refused, the earlier CSV kept.
    r = run("convert " + csv.string() + " " + csv.string());
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.err.find("not a recording"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(std::istreambuf_iterator<char>(*std::make_unique<std::ifstream>(csv)), {}, '\n'),
              static_cast<long>(rows + 1));
    // set output on a voltage channel is the window's greyed-out control.
    r = run("--board sim \"power on; set output 1 B\"");
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.err.find("is fixed"), std::string::npos) << r.err;
}

TEST_F(Cli, CommandsRunInTheOrderWrittenWhetherLooseOrAfterDashC)
{
    // The counted run's JSON line comes before the temperature's only when
    // the loose text runs before the -c that follows it.
    const auto r = run("--board sim --json power on -c temp");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_LT(r.out.find("\"power on\""), r.out.find("\"temp\"")) << r.out;
}

// The last value the simulated board's log shows written to a register.
std::string lastWrite(const fs::path& log, const std::string& reg)
{
    std::istringstream in(slurp(log));
    std::string line, last;
    while (std::getline(in, line))
        if (line.rfind("W " + reg + " ", 0) == 0) last = line.substr(5);
    return last;
}

TEST_F(Cli, SigtermAndSigintPowerTheBoardOffAndStopTheClockBeforeTheExit)
{
    using namespace std::chrono_literals;
    for (const int sig : {SIGTERM, SIGINT}) {
        const fs::path log = dir / ("board-" + std::to_string(sig) + ".log");
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::unsetenv("ZELBO_BOARD");
            ::setenv("ZELBO_BOARD_LOG", log.c_str(), 1);
            ::setenv("XDG_DATA_HOME", dir.c_str(), 1);
            ::dup2(out[1], 1);
            ::close(out[0]);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 2);
            ::execl("./zelbo-cli", "zelbo-cli", "--board", "sim", "--json", "power on; run --freq 2k; sleep 60",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        // The clock runs once the run's line is out; then the signal.
        std::string text;
        char buf[256];
        while (text.find("\"run --freq 2k\"") == std::string::npos) {
            const ssize_t n = ::read(out[0], buf, sizeof buf);
            if (n <= 0) break;
            text.append(buf, static_cast<std::size_t>(n));
        }
        ::close(out[0]);
        ASSERT_NE(text.find("\"run --freq 2k\""), std::string::npos) << text;
        ::kill(pid, sig);
        const auto sent = std::chrono::steady_clock::now();
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() - sent > 20s) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                FAIL() << "zelbo-cli did not end after signal " << sig;
            }
            std::this_thread::sleep_for(20ms);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - sent, 5s);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + sig);
        // The simulated board's clock control (144 = 0x90) stopped, its
        // supply switch (register 1) off.
        EXPECT_EQ(lastWrite(log, "90"), "00");
        EXPECT_EQ(lastWrite(log, "01"), "E0");
    }
}

// Two boards of the class and a keyboard on a recorded bus (umockdev):
// "list" names the boards by path and serial, in port order, and opens
// nothing; a serial no board has is refused before any bring-up, naming the
// boards that are attached.
TEST_F(Cli, ListNamesTheAttachedBoardsAndAnAbsentSerialIsRefusedWithThem)
{
#ifndef ZELBO_UMOCKDEV_RUN
    GTEST_SKIP() << "umockdev-run is not installed";
#else
    const std::string bus = std::string("ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0 ") + ZELBO_UMOCKDEV_RUN +
                            " -d " + ZELBO_TWO_BOARDS + " --";
    auto r = run("list", "", bus);
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "1-1  OTHER-A  04b4:8613  /dev/bus/usb/001/004\n"
                     "1-2  SIM-B  04b4:8613  /dev/bus/usb/001/007\n");
    r = run("--json list", "", bus);
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "{\"command\":\"list\",\"ok\":true,\"boards\":["
                     "{\"path\":\"1-1\",\"serial\":\"OTHER-A\",\"id\":\"04b4:8613\",\"node\":\"/dev/bus/usb/001/004\"},"
                     "{\"path\":\"1-2\",\"serial\":\"SIM-B\",\"id\":\"04b4:8613\",\"node\":\"/dev/bus/usb/001/007\"}]}\n");
    r = run("--board usb:NOT-THERE status", "", bus);
    EXPECT_EQ(r.exit, 3);
    EXPECT_NE(r.err.find("\"NOT-THERE\" is attached. Attached boards: 1-1 (serial OTHER-A), 1-2 (serial SIM-B)."),
              std::string::npos)
        << r.err;
    // Without a bus: none attached, said on stderr, and no board needed.
    r = run("list");
    EXPECT_EQ(r.exit, 0) << r.err;
#endif
}

TEST_F(Cli, BoardOptionTakesAUsbChoiceButNotAnEmptyOne)
{
    EXPECT_EQ(run("--board usb: status").exit, 2);
    EXPECT_EQ(run("--board sim:X status").exit, 2);
}

} // namespace
