// The simulated board's side of the firmware suite: reads one command per line
// on stdin, plays it on the board and prints the board's answer on one line,
// so that the suite can hold it against what the firmware answered in s51.
//
//   req TT RR VVVV IIII LLLL   control request (hex)  -> "stall" | "ok HEX" | "error N"
//   ep4 HEX                    bulk OUT on 0x04       -> "done" | "error N"
//   blocks N                   N response blocks queued on EP2
//   accept 0|1                 the FPGA takes commands from EP4 (or never does)
//   scope 0|1                  port A bit 1
//   pins                       -> "pa HEX pd HEX": the board's port A and D
//   image                      -> "HEX": the bytes shifted into the FPGA
//   reset                      power-up, firmware running, FPGA not configured

#include "board/sim_board.h"
#include "board/sim_board_test.h"

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string hex(const std::uint8_t* p, std::size_t n)
{
    std::string s;
    char b[3];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", p[i]);
        s += b;
    }
    return s;
}

std::vector<std::uint8_t> unhex(const std::string& s)
{
    std::vector<std::uint8_t> v;
    for (std::size_t i = 0; i + 1 < s.size(); i += 2) v.push_back(static_cast<std::uint8_t>(std::stoul(s.substr(i, 2), nullptr, 16)));
    return v;
}

void reset(simboard::Control& ctl)
{
    ctl.reset();
    ctl.setBusTiming(false);
    ctl.setTimeoutLimit(std::chrono::milliseconds(1));
    ctl.startFirmware();
}

} // namespace

int main()
{
    simboard::Control ctl;
    auto& board = simboard::Board::instance();
    reset(ctl);
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string op;
        in >> op;
        if (op == "req") {
            unsigned t = 0, r = 0, v = 0, i = 0, l = 0;
            in >> std::hex >> t >> r >> v >> i >> l;
            simboard::Setup s{static_cast<std::uint8_t>(t), static_cast<std::uint8_t>(r), static_cast<std::uint16_t>(v),
                              static_cast<std::uint16_t>(i), static_cast<std::uint16_t>(l)};
            std::vector<std::uint8_t> data(l + 1u, 0);
            const auto x = board.control(s, data.data(), 100);
            if (x.result == simboard::Result::Stall) std::cout << "stall\n";
            else if (x.result != simboard::Result::Ok) std::cout << "error " << static_cast<int>(x.result) << "\n";
            else std::cout << "ok " << ((t & 0x80) ? hex(data.data(), x.length) : std::string()) << "\n";
        } else if (op == "ep4") {
            std::string h;
            in >> h;
            const auto bytes = unhex(h);
            const auto x = board.bulkOut(0x04, bytes.data(), bytes.size(), 1);
            if (x.result == simboard::Result::Ok) std::cout << "done\n";
            else std::cout << "error " << static_cast<int>(x.result) << "\n";
        } else if (op == "blocks") {
            int n = 0;
            in >> n;
            for (int k = 0; k < n; ++k) ctl.queueResponseBlock(std::vector<std::uint8_t>(512, 0));
            std::cout << "ok\n";
        } else if (op == "accept") {
            int on = 1;
            in >> on;
            ctl.setNeverAcceptCommands(on == 0);
            std::cout << "ok\n";
        } else if (op == "scope") {
            int on = 1;
            in >> on;
            ctl.setScopeCapable(on != 0);
            std::cout << "ok\n";
        } else if (op == "pins") {
            const std::uint8_t p[2] = {ctl.portA(), ctl.portD()};
            std::cout << "pa " << hex(p, 1) << " pd " << hex(p + 1, 1) << "\n";
        } else if (op == "image") {
            const auto img = ctl.fpgaImage();
            std::cout << hex(img.data(), img.size()) << "\n";
        } else if (op == "reset") {
            reset(ctl);
            std::cout << "ok\n";
        } else {
            std::cout << "unknown " << op << "\n";
        }
        std::cout.flush();
    }
    return 0;
}
