#pragma once
// The thermal chamber around the board: a temperature controller that speaks
// Modbus RTU (slave 1) on a pseudo-terminal, and the air it regulates.
//
// The controller regulates toward its set point register at a limited ramp
// rate; the air follows that ramp through a first-order lag. The controller's
// probe is not perfect: it shows y = a t^2 + b t + c (kProbe*) for a true air
// temperature t, in tenths of a degree as a signed 16-bit register, and its set
// point is taken on the same scale. The true air is the DUT's ambient.
//
// Registers: 0x0000 and 0x0002 the two inputs' readings (both see the air),
// 0x003A run (0) / stop (1; the chamber drifts back to the room), 0x004E and
// 0x005A set points 1 and 2 (1 is regulated), and a few display and output
// settings that are only held (0x0034, 0x0036, 0x0202, 0x0242, 0x0248,
// 0x024E, 0x0286). Functions 3 (read holding registers) and 6 (write single
// register); anything else is answered with a Modbus exception.

#include "board/sim_board_test.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace simboard {

class ChamberModel {
public:
    static constexpr double kRoomCelsius = 25.0;
    static constexpr double kDefaultRampPerMinute = 30.0;
    static constexpr double kDefaultLagSeconds = 15.0;
    static constexpr double kProbeA = 6e-06;
    static constexpr double kProbeB = 0.9959;
    static constexpr double kProbeC = 2.3287;
    static constexpr std::uint8_t kSlave = 1;

    ChamberModel();

    // Defaults, no fault, air and set point at `celsius`, clock at nowNs.
    void restoreDefaults(double celsius, std::int64_t nowNs);
    void setModel(double rampPerMinute, double lagSeconds);
    // Air, ramp and set point all at `celsius` now.
    void putAt(double celsius, std::int64_t nowNs);
    // Runs the air up to board time nowNs (nothing when already there).
    void advanceTo(std::int64_t nowNs);
    double air() const { return air_; }
    void setFault(ChamberFault fault);

    // Takes the complete request frames at the front of `pending` (bytes from
    // the line) and returns the reply bytes to send, in order. A frame with a
    // wrong CRC or for another slave gets no answer; bytes that cannot start a
    // frame are dropped. An incomplete frame stays in `pending`.
    std::vector<std::uint8_t> serve(std::vector<std::uint8_t>& pending, std::int64_t nowNs);

    ChamberState state() const;

    // The probe's reading of a true temperature and back.
    static double probeShows(double celsius);
    static double probeTruth(double shown);

private:
    std::vector<std::uint8_t> answer(const std::uint8_t* frame, std::int64_t nowNs);
    double target() const;
    std::uint16_t reading() const;

    std::map<std::uint16_t, std::uint16_t> regs_;
    double rampPerSecond_ = kDefaultRampPerMinute / 60.0;
    double lag_ = kDefaultLagSeconds;
    double ramp_ = kRoomCelsius; // where the controller's ramp has got to
    double air_ = kRoomCelsius;
    std::int64_t lastNs_ = 0;
    ChamberFault fault_ = ChamberFault::None;
    double stuckShown_ = 0.0;    // the frozen reading of StuckReading
    std::uint64_t requests_ = 0, answered_ = 0;
};

// The controller's end of the line: a pseudo-terminal served by a thread.
// `handle` gets the bytes received so far and returns what to send back; it
// runs on that thread.
class ChamberPort {
public:
    using Handler = std::function<std::vector<std::uint8_t>(std::vector<std::uint8_t>& pending)>;
    explicit ChamberPort(Handler handle);
    ~ChamberPort();
    ChamberPort(const ChamberPort&) = delete;
    ChamberPort& operator=(const ChamberPort&) = delete;

    // The device a host opens ("" when no pseudo-terminal could be had).
    const std::string& path() const { return path_; }

private:
    void run();

    Handler handle_;
    int master_ = -1;
    int holder_ = -1;   // our own descriptor of the slave: the host's closes do not hang up the line
    int wake_[2] = {-1, -1};
    std::string path_;
    std::thread thread_;
};

} // namespace simboard
