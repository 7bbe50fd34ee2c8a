#pragma once
// The board's USB-facing surface as a plain C table, for a driver layer that
// loads the board at run time (dlopen) instead of linking it. The functions
// act on Board::instance(); their arguments and results are those of the
// members of the same name in sim_board.h (results as simboard::Result values,
// transfer lengths through `length`).

#include <cstddef>
#include <cstdint>

extern "C" {

struct SimBoardUsbApi {
    std::uint32_t abiVersion; // kSimBoardUsbAbi
    int (*present)();
    std::uint32_t (*enumerationCount)();
    std::uint8_t (*deviceAddress)();
    int (*control)(std::uint8_t bmRequestType, std::uint8_t bRequest, std::uint16_t wValue, std::uint16_t wIndex,
                   std::uint16_t wLength, std::uint8_t* data, unsigned timeoutMs, std::size_t* length);
    int (*bulkOut)(std::uint8_t endpoint, const std::uint8_t* data, std::size_t length, unsigned timeoutMs,
                   std::size_t* moved);
    int (*bulkIn)(std::uint8_t endpoint, std::uint8_t* data, std::size_t length, unsigned timeoutMs,
                  std::size_t* moved);
    void (*abortEndpoint)(std::uint8_t endpoint);
    void (*cyclePort)();
};

// The one symbol a loader looks up.
__attribute__((visibility("default"))) const SimBoardUsbApi* zelbo_simboard_usb_api();
}

inline constexpr std::uint32_t kSimBoardUsbAbi = 1;
inline constexpr const char* kSimBoardUsbEntry = "zelbo_simboard_usb_api";
// The board library's file name as the loader asks for it (its SONAME).
inline constexpr const char* kSimBoardLibrary = "libzelbosimboard.so.1";
