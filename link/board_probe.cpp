#include "link/board_probe.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace zelbo::link {

namespace {

// POSIX calls rather than std::filesystem: they are what a test's fake
// /sys and /dev (umockdev) redirects.
std::string readAttribute(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return {};
    char buf[64] = {};
    const std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    std::string s(buf, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

std::vector<std::string> entries(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* d = ::opendir(folder.c_str());
    if (d == nullptr) return names;
    while (const dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    ::closedir(d);
    return names;
}

bool classDevice(const std::string& vid, const std::string& pid)
{
    return vid == "04b4" && (pid == "8613" || pid == "1002");
}

// An interface of the device bound to usbfs: a program has claimed it.
bool claimed(const std::string& sysDevices, const std::string& device)
{
    for (const std::string& name : entries(sysDevices + "/" + device)) {
        if (name.rfind(device + ":", 0) != 0) continue;
        char target[512];
        const ssize_t n = ::readlink((sysDevices + "/" + device + "/" + name + "/driver").c_str(), target,
                                     sizeof target - 1);
        if (n <= 0) continue;
        target[n] = '\0';
        const char* base = std::strrchr(target, '/');
        if (std::strcmp(base ? base + 1 : target, "usbfs") == 0) return true;
    }
    return false;
}

} // namespace

BoardProbe probeBoard(const std::string& sysDevices, const std::string& devRoot)
{
    BoardProbe best;
    for (const std::string& device : entries(sysDevices)) {
        if (device.find(':') != std::string::npos) continue; // an interface, not a device
        const std::string base = sysDevices + "/" + device + "/";
        const std::string vid = readAttribute(base + "idVendor");
        const std::string pid = readAttribute(base + "idProduct");
        if (!classDevice(vid, pid)) continue;
        const int bus = std::atoi(readAttribute(base + "busnum").c_str());
        const int dev = std::atoi(readAttribute(base + "devnum").c_str());
        char node[128];
        std::snprintf(node, sizeof node, "%s/%03d/%03d", devRoot.c_str(), bus, dev);
        BoardProbe p;
        p.node = node;
        p.id = vid + ":" + pid;
        if (::access(node, R_OK | W_OK) != 0)
            p.access = BoardAccess::NoAccess;
        else if (claimed(sysDevices, device))
            p.access = BoardAccess::Busy;
        else
            p.access = BoardAccess::Accessible;
        // Accessible beats busy beats no access: report the most useful one.
        if (best.access == BoardAccess::NoBoard || static_cast<int>(p.access) > static_cast<int>(best.access))
            best = p;
    }
    return best;
}

std::string boardProblemText(const BoardProbe& p)
{
    switch (p.access) {
    case BoardAccess::NoBoard:
        return "No evaluation board was found.\n\n"
               "Connect the board to a USB port of this computer, check the cable and that the board is "
               "powered, then restart Zelbo.\n\n"
               "Start the demo on the simulated board instead?";
    case BoardAccess::NoAccess:
        return "An evaluation board was found (" + p.id + " at " + p.node +
               "), but Zelbo is not allowed to open it.\n\n"
               "Install the udev rule 60-zelbo-usbbridge.rules in /lib/udev/rules.d or /etc/udev/rules.d "
               "(the zelbo package installs it), run \"sudo udevadm control --reload && sudo udevadm trigger\", "
               "then unplug the board, plug it in again and restart Zelbo.";
    case BoardAccess::Busy:
        return "The evaluation board (" + p.id + " at " + p.node +
               ") is in use by another program.\n\n"
               "Close the other program (another copy of Zelbo, perhaps started by another user), then "
               "restart Zelbo.";
    case BoardAccess::Accessible: break;
    }
    return "The evaluation board (" + p.id + " at " + p.node +
           ") was found but could not be started.\n\n"
           "The USB error is written to the terminal: start zelbo from a terminal to read it. Unplugging the "
           "board and plugging it in again may help.";
}

} // namespace zelbo::link
