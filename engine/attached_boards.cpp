#include "engine/attached_boards.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace zelbo::engine {

namespace {

// One line of a sysfs attribute, without its newline. std::ifstream opens
// through fopen-like calls that umockdev's fake /sys also redirects.
std::string attribute(const std::string& folder, const char* name)
{
    std::ifstream in(folder + "/" + name);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

// "1-4.2" as {1, 4, 2}; a root hub "usb1" as {1}. Sorting by it is bus,
// then port order.
std::vector<long> placeOf(const std::string& path)
{
    std::vector<long> numbers;
    long n = -1;
    for (const char c : path) {
        if (c >= '0' && c <= '9') {
            n = (n < 0 ? 0 : n * 10) + (c - '0');
            if (n > 1000000) n = 1000000;
        } else if (n >= 0) {
            numbers.push_back(n);
            n = -1;
        }
    }
    if (n >= 0) numbers.push_back(n);
    return numbers;
}

} // namespace

std::vector<AttachedBoard> attachedBoards(const std::string& sysDevices, const std::string& devRoot)
{
    std::vector<AttachedBoard> boards;
    DIR* folder = ::opendir(sysDevices.c_str());
    if (folder == nullptr) return boards;
    while (const dirent* e = ::readdir(folder)) {
        const std::string name = e->d_name;
        // Interfaces ("1-2:1.0") and the folder's own links are not devices.
        if (name.empty() || name[0] == '.' || name.find(':') != std::string::npos) continue;
        const std::string dir = sysDevices + "/" + name;
        const std::string product = attribute(dir, "idProduct");
        if (attribute(dir, "idVendor") != "04b4" || (product != "8613" && product != "1002")) continue;
        AttachedBoard b;
        b.path = name;
        b.serial = attribute(dir, "serial");
        b.id = "04b4:" + product;
        char node[64];
        std::snprintf(node, sizeof node, "/%03ld/%03ld", std::strtol(attribute(dir, "busnum").c_str(), nullptr, 10),
                      std::strtol(attribute(dir, "devnum").c_str(), nullptr, 10));
        b.node = devRoot + node;
        boards.push_back(std::move(b));
    }
    ::closedir(folder);
    std::sort(boards.begin(), boards.end(),
              [](const AttachedBoard& a, const AttachedBoard& b) { return placeOf(a.path) < placeOf(b.path); });
    return boards;
}

bool boardIsNamed(const AttachedBoard& board, const std::string& choice)
{
    return !choice.empty() && (board.path == choice || board.serial == choice);
}

std::string boardListText(const std::vector<AttachedBoard>& boards)
{
    if (boards.empty()) return "none";
    std::string text;
    for (const AttachedBoard& b : boards) {
        if (!text.empty()) text += ", ";
        text += b.path + (b.serial.empty() ? " (no serial)" : " (serial " + b.serial + ")");
    }
    return text;
}

} // namespace zelbo::engine
