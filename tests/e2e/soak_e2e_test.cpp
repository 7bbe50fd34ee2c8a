// Soak runs (label soak, out of every preset's default run): hours of
// streaming with a dynamic sequence looping and the thermometer ticking,
// hundreds of power cycles and settings save/open cycles on the simulated
// board, with no message, no growth of resident memory after warm-up beyond
// a bound, and sweeps and sequence rows counted against the board's own
// counters.
//
// ZELBO_SOAK_SECONDS (default 1800), ZELBO_SOAK_CYCLES (default 500) and
// ZELBO_SOAK_SETTINGS_CYCLES (default 200) set the length; a short run gives
// a figure quickly.
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

#include <QRadioButton>

#include "app/dynamic_feature.h"
#include "app/program_features.h"
#include "app/settings_feature.h"
#include "drive/ui/dynamic_dlg.h"
#include "files/settings_core.h"
#include "scope/scope_core.h"
#include "tests/e2e/program_fixture.h"
#include "thermal/ui/thermal_feature.h"

namespace e2e {
namespace {

constexpr long kRssBoundKb = 32 * 1024; // growth allowed after warm-up

long envOr(const char* name, long fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? std::strtol(v, nullptr, 10) : fallback;
}

long residentKb()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

class Soak : public Program {};

} // namespace

TEST_F(Soak, FourChannelStreamingHoldsItsMemoryAndLosesNoSweep)
{
    const long seconds = envOr("ZELBO_SOAK_SECONDS", 1800);
    board.setBusTiming(true); // a real board's pacing
    poweredOn();
    if (HasFatalFailure()) return;
    auto& core = window->features()->scopeCore();

    // Two rows of 300 ms, looping without end: every row is a change of the
    // highlighted row, which the window polls far more often.
    window->onCommand(CTQ5170xHWPDlg::ID_VIEW_DYNAMIC);
    CDynamicDlg* dlg = window->features()->dynamic().dialog(0);
    const char* rows[2][9] = {{"0", "1.00", "0.50", "1000", "HI", "HI", "LO", "LO", "HI"},
                              {"300", "1.50", "0.50", "2k", "HI", "HI", "LO", "LO", "LO"}};
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 9; ++c) dlg->table().setCell(r, c, rows[r][c]);
    dlg->refreshGrid();
    dlg->infiniteRadio()->setChecked(true);
    dlg->delayField()->setText("300");
    dlg->startButton()->click();
    ASSERT_TRUE(dlg->running());
    std::uint64_t rowsSeen = 0;
    int shownRow = -1;
    auto watchRows = [&] {
        const int r = dlg->highlightedRow();
        if (r >= 0 && r != shownRow) ++rowsSeen;
        if (r >= 0) shownRow = r;
        return false;
    };

    waitUntil(watchRows, static_cast<int>(std::min<long>(10, std::max<long>(2, seconds / 10)) * 1000));
    const long rssWarm = residentKb();
    const auto sweepsWarm = core.sweepsConverted();
    waitUntil(watchRows, static_cast<int>(seconds * 1000));

    // Paused, the board applies no more rows; the window then shows the last.
    dlg->pauseButton()->click();
    ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
    waitUntil(watchRows, 500);
    const auto boardRows = board.sequenceRowsApplied();
    const auto reading = window->features()->thermal().thermometer().last();
    const double junction = board.thermal().junctionCelsius;

    // Stop, then compare with what the board says it sent.
    auto* run = window->control<QAbstractButton>(ctl::kRun);
    run->click();
    ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
    waitUntil([] { return false; }, 500);
    const auto uploaded = board.scope().sweepsUploaded;
    const auto converted = core.sweepsConverted();
    const long rssEnd = residentKb();
    std::printf("streamed %ld s: %llu sweeps converted (%llu after warm-up), board uploaded %llu; "
                "%llu sequence rows shown, board applied %llu; "
                "resident %ld kB after warm-up, %ld kB at the end\n",
                seconds, static_cast<unsigned long long>(converted),
                static_cast<unsigned long long>(converted - sweepsWarm), static_cast<unsigned long long>(uploaded),
                static_cast<unsigned long long>(rowsSeen), static_cast<unsigned long long>(boardRows), rssWarm,
                rssEnd);
    EXPECT_TRUE(messages.shown().empty()) << messages.shown().front().text;
    EXPECT_GT(rowsSeen, 2u);
    EXPECT_EQ(rowsSeen, boardRows) << "every row the board applied was shown";
    ASSERT_TRUE(reading.has_value()) << "the thermometer reads";
    EXPECT_NEAR(reading->tjCelsius, junction, 5.0) << "and follows the junction";
    EXPECT_GT(converted - sweepsWarm, 0u);
    EXPECT_EQ(converted, uploaded) << "every sweep the board finished reached the traces";
    EXPECT_LT(rssEnd - rssWarm, kRssBoundKb);
}

TEST_F(Soak, SettingsSaveAndOpenCyclesLeaveNothingBehind)
{
    const long cycles = envOr("ZELBO_SOAK_SETTINGS_CYCLES", 200);
    poweredOn();
    if (HasFatalFailure()) return;
    auto& settings = window->features()->settings();
    const std::filesystem::path path = std::filesystem::path(data.path().toStdString()) / "cycle.set";
    std::string first;
    long rssWarm = 0;
    for (long i = 0; i < cycles; ++i) {
        ASSERT_TRUE(settings.core().save(path)) << "cycle " << i;
        const auto r = settings.load(QString::fromStdString(path.string()));
        ASSERT_TRUE(r.opened && r.stage2 && r.missingLine == 0) << "cycle " << i;
        ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000))) << "cycle " << i;
        // What is saved after an open is what was opened.
        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (i == 0) first = bytes;
        ASSERT_EQ(bytes, first) << "cycle " << i;
        if (i == std::min<long>(10, cycles / 10)) rssWarm = residentKb();
    }
    const long rssEnd = residentKb();
    std::printf("%ld settings save/open cycles: resident %ld kB after warm-up, %ld kB at the end\n", cycles,
                rssWarm, rssEnd);
    EXPECT_TRUE(messages.shown().empty());
    EXPECT_LT(rssEnd - rssWarm, kRssBoundKb);
}

TEST_F(Soak, PowerCyclesLeaveNothingBehind)
{
    const long cycles = envOr("ZELBO_SOAK_CYCLES", 500);
    openReady();
    if (HasFatalFailure()) return;
    long rssWarm = 0;
    for (long i = 0; i < cycles; ++i) {
        clickPower();
        waitLockout();
        clickPower();
        waitLockout();
        if (HasFatalFailure()) return;
        ASSERT_EQ(board.supplyMillivolts(), 0) << "cycle " << i;
        if (i == std::min<long>(10, cycles / 10)) rssWarm = residentKb();
    }
    const long rssEnd = residentKb();
    std::printf("%ld power cycles: resident %ld kB after warm-up, %ld kB at the end\n", cycles, rssWarm, rssEnd);
    EXPECT_TRUE(messages.shown().empty());
    EXPECT_LT(rssEnd - rssWarm, kRssBoundKb);
}

} // namespace e2e
