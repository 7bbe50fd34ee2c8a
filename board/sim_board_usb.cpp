#include "board/sim_board_usb.h"

#include "board/sim_board.h"

namespace {

using simboard::Board;

int present() { return Board::instance().present() ? 1 : 0; }
std::uint32_t enumerationCount() { return Board::instance().enumerationCount(); }
std::uint8_t deviceAddress() { return Board::instance().deviceAddress(); }

int control(std::uint8_t bmRequestType, std::uint8_t bRequest, std::uint16_t wValue, std::uint16_t wIndex,
            std::uint16_t wLength, std::uint8_t* data, unsigned timeoutMs, std::size_t* length)
{
    const simboard::Transfer t =
        Board::instance().control(simboard::Setup{bmRequestType, bRequest, wValue, wIndex, wLength}, data, timeoutMs);
    if (length != nullptr) *length = t.length;
    return static_cast<int>(t.result);
}

int bulkOut(std::uint8_t endpoint, const std::uint8_t* data, std::size_t length, unsigned timeoutMs,
            std::size_t* moved)
{
    const simboard::Transfer t = Board::instance().bulkOut(endpoint, data, length, timeoutMs);
    if (moved != nullptr) *moved = t.length;
    return static_cast<int>(t.result);
}

int bulkIn(std::uint8_t endpoint, std::uint8_t* data, std::size_t length, unsigned timeoutMs, std::size_t* moved)
{
    const simboard::Transfer t = Board::instance().bulkIn(endpoint, data, length, timeoutMs);
    if (moved != nullptr) *moved = t.length;
    return static_cast<int>(t.result);
}

void abortEndpoint(std::uint8_t endpoint) { Board::instance().abortEndpoint(endpoint); }
void cyclePort() { Board::instance().cyclePort(); }

constexpr SimBoardUsbApi kApi{kSimBoardUsbAbi, &present,  &enumerationCount, &deviceAddress, &control,
                              &bulkOut,        &bulkIn,   &abortEndpoint,    &cyclePort};

} // namespace

extern "C" const SimBoardUsbApi* zelbo_simboard_usb_api()
{
    return &kApi;
}
