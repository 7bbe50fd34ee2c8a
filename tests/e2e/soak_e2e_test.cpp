// Soak runs (label soak, out of every preset's default run): hours of
// streaming and hundreds of power cycles on the simulated board, with no
// message, no growth of resident memory after warm-up beyond a bound, and
// the sweeps counted against the board's own counters.
//
// ZELBO_SOAK_SECONDS (default 1800) and ZELBO_SOAK_CYCLES (default 500) set
// the length; a short run gives a figure quickly.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

#include "app/program_features.h"
#include "scope/scope_core.h"
#include "tests/e2e/program_fixture.h"

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

    waitUntil([] { return false; }, static_cast<int>(std::min<long>(10, std::max<long>(2, seconds / 10)) * 1000));
    const long rssWarm = residentKb();
    const auto sweepsWarm = core.sweepsConverted();
    waitUntil([] { return false; }, static_cast<int>(seconds * 1000));

    // Stop, then compare with what the board says it sent.
    auto* run = window->control<QAbstractButton>(1026);
    run->click();
    ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
    waitUntil([] { return false; }, 500);
    const auto uploaded = board.scope().sweepsUploaded;
    const auto converted = core.sweepsConverted();
    const long rssEnd = residentKb();
    std::printf("streamed %ld s: %llu sweeps converted (%llu after warm-up), board uploaded %llu; "
                "resident %ld kB after warm-up, %ld kB at the end\n",
                seconds, static_cast<unsigned long long>(converted),
                static_cast<unsigned long long>(converted - sweepsWarm), static_cast<unsigned long long>(uploaded),
                rssWarm, rssEnd);
    EXPECT_TRUE(messages.shown().empty());
    EXPECT_GT(converted - sweepsWarm, 0u);
    EXPECT_EQ(converted, uploaded) << "every sweep the board finished reached the traces";
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
