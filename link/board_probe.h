#pragma once
// What stands in the way of a board that the bridge could not open, found
// from what the kernel shows of the USB bus (sysfs and the device nodes): no
// board of the class at all, a board whose device node the user may not open
// (no udev rule), a board whose interface another program has claimed.
// Read-only: it opens no device and sends nothing.

#include <string>

namespace zelbo::link {

enum class BoardAccess {
    NoBoard,    // no 04b4:8613 or 04b4:1002 on any bus
    NoAccess,   // present, but its node cannot be opened for reading and writing
    Busy,       // present, and its interface is held by another program (usbfs)
    Accessible, // present and accessible: something else went wrong
};

struct BoardProbe {
    BoardAccess access = BoardAccess::NoBoard;
    std::string node; // /dev/bus/usb/BBB/DDD of the board found
    std::string id;   // "04b4:8613"
};

// The first board of the class in sysDevices (one folder per device, as in
// /sys/bus/usb/devices), its node under devRoot. A board that is accessible
// wins over one that is not, so that a second, foreign board does not hide it.
BoardProbe probeBoard(const std::string& sysDevices = "/sys/bus/usb/devices",
                      const std::string& devRoot = "/dev/bus/usb");

// The message for a board the bridge could not open.
std::string boardProblemText(const BoardProbe& probe);

} // namespace zelbo::link
