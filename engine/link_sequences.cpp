#include "engine/link_sequences.h"

#include <chrono>
#include <cstdint>

#include "common/fpga_registers.h"
#include "common/log.h"

namespace zelbo::engine {

namespace {
using std::chrono::milliseconds;

constexpr std::uint8_t kStartModeValue = 2;
// Strobe code written after the PS level is cleared at shutdown. It is one
// past the PS channel's code (0x87) and names no DAC channel; it is what the
// board has always been sent here.
constexpr std::uint8_t kShutdownStrobe = 0x88;
constexpr std::uint8_t kShutdownKey[] = {0xEA, 0x15, 0xAE, 0xFF};
} // namespace

int startLink(link::FpgaLink& link, link::BringUpObserver& progress, link::LinkObserver& window,
              const std::function<void(CommandPort&)>& clearDacOutputs)
{
    const int opened = link.open(progress);
    if (opened != 0)
        return opened;

    if (clearDacOutputs)
        clearDacOutputs(link);
    link.queueWrite(reg::kSecondRun, 0);
    link.pause(milliseconds(30));
    const std::uint8_t zeros[3] = {0, 0, 0};
    link.queueBlock(0, 0, zeros, sizeof zeros);
    link.pause(milliseconds(100));
    link.queueWrite(reg::kStartMode, kStartModeValue);
    for (std::uint8_t r = reg::kStartFirst; r <= reg::kStartLast; ++r)
        link.queueWrite(r, 0);
    link.pause(milliseconds(100));
    link.queueWrite(reg::kSecondRun, 1);
    link.pause(milliseconds(100));
    link.queueWrite(reg::kSecondRun, 0);

    window.linkStarted();
    link.pause(milliseconds(50));

    link.queueWrite(reg::kBoardReady, 0);
    const bool scope = link.queryScopeCapability();
    link.queueWrite(reg::kScopeEnable, scope ? 1 : 0);
    link.pause(milliseconds(10));
    log::info("link: started");
    return 0;
}

bool shutdownLink(link::FpgaLink& link)
{
    link.beginShutdown();
    if (link.active()) {
        link.waitSent();
        (void)link.vendorRequest(link::kReqHostReady, link::kHostGone, 1);
        link.queueWrite(reg::kDacPsLow, 0);
        link.queueWrite(reg::kDacPsHigh, 0);
        link.queueWrite(reg::kDacStrobe, kShutdownStrobe);
        link.waitSent();
        for (std::uint8_t v : kShutdownKey)
            link.queueWrite(reg::kShutdownKey, v);
        link.waitSent();
        log::debug("link: shutdown traffic sent");
    }
    return link.shutdown();
}

} // namespace zelbo::engine
