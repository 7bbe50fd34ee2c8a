#pragma once
// The evaluation boards on the USB bus, as the kernel shows them in sysfs:
// where each sits (the kernel's name for its port, "1-4.2") and its serial
// number. Read-only: it opens no device, so a board that another process
// drives is not disturbed. The bridge library takes one of them by the
// variable ZELBO_USB_BOARD (see docs/usbbridge.md); one board per process.

#include <string>
#include <vector>

namespace zelbo::engine {

struct AttachedBoard {
    std::string path;   // "1-4.2": the bus, then the ports from the root hub
    std::string serial; // "" when the board reports none
    std::string id;     // "04b4:8613" (its firmware runs) or "04b4:1002"
    std::string node;   // /dev/bus/usb/BBB/DDD
};

// The boards of the class (04b4:8613, 04b4:1002) in bus and port order, the
// order in which the bridge library finds them.
std::vector<AttachedBoard> attachedBoards(const std::string& sysDevices = "/sys/bus/usb/devices",
                                          const std::string& devRoot = "/dev/bus/usb");

// Whether `choice` (a serial number or a USB path) names this board.
bool boardIsNamed(const AttachedBoard& board, const std::string& choice);

// "1-1 (serial A12), 1-2 (no serial)", or "none".
std::string boardListText(const std::vector<AttachedBoard>& boards);

} // namespace zelbo::engine
