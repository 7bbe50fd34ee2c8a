#pragma once
// Steering and inspection of the simulated board, for tests and tools.
//
// The USB-facing surface (board/sim_board.h) is what a driver layer sees; this
// header is the bench around the board: a test resets it, switches the bus
// timing off or to virtual time, injects faults, and reads back what the host
// did to it (registers, DAC channels, the event log). Every member is
// thread-safe and acts on the same board instance the host talks to.

#include "board/sim_board.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace simboard {

// One entry of the board's event log.
struct LogEvent {
    enum class Kind : std::uint8_t {
        RegisterWrite, // code = register, value = value, writeClass = frame class byte
        DacLoad,       // code = DAC channel code (128..135), value = 16-bit code
        VendorRequest, // code = request, value = wValue
        BlockWrite,    // code = target, value = start address, count = data bytes
    };
    Kind kind = Kind::RegisterWrite;
    std::int64_t timeNs = 0; // board time of the event
    std::uint8_t code = 0;
    std::uint8_t writeClass = 0;
    std::uint16_t value = 0;
    std::uint16_t count = 0;
};

// The text form written to ZELBO_BOARD_LOG: "W rr vv", "D cc hhhh",
// "V rr vvvv", "B tt aaaa nnnn" (upper-case hex, no line end).
SIMBOARD_API std::string formatLogEvent(const LogEvent& event);

// Costs of the bus-timing model.
struct BusTiming {
    // A control transfer: setup, data and status stages on a high-speed bus.
    std::chrono::nanoseconds controlBase{125'000};
    std::chrono::nanoseconds perControlPacket{1'500}; // each 64-byte data packet
    // Bulk: wire time of the bytes plus per-packet overhead at 480 Mbit/s.
    double bulkNsPerByte = 8.0 * 1e9 / 480e6;
    unsigned bulkOverheadBytesPerPacket = 20;
};

enum class FpgaState : std::uint8_t {
    Unconfigured, // since power-up, no nCONFIG pulse yet
    Configuring,  // after an nCONFIG pulse, taking image bytes
    Failed,       // the closing bytes came after an empty (or refused) image
    Configured,   // user mode: command frames in, response blocks out
};

// The clock generator (registers 144..154) as it runs.
struct ClockGeneratorState {
    bool running = false;
    bool counted = false;          // a counted run (step count not 0)
    bool stopHigh = false;         // level the line rests at after a counted run
    std::uint32_t period = 0;      // N: one period is N + 1 ticks of 25 ns
    std::uint32_t highTime = 0;    // D: ticks the line is high in each period
    std::uint32_t stepsLeft = 0;   // counted run: rising edges still to come
    bool level = false;            // the CLK line now
    std::uint64_t risingEdges = 0; // since power-up
};

// The device under test: a stepping-motor driver.
struct DutState {
    bool powered = false; // supply on and ENABLE high: coils driven
    int supplyMillivolts = 0;
    bool ps = false, enable = false, mode0 = false, mode1 = false, cw = false;
    int excitation = 0;   // MODE0 + 2 x MODE1: 0 full, 1 half A, 2 half B, 3 quarter step
    int position = 0;     // electrical position in sixteenths of a cycle (22.5 degrees), 0..15
    std::int64_t steps = 0;      // net steps taken (CW counts up)
    double vrefVolts = 0.0;
    double mthVolts = 0.0;
    double senseOhms = 0.2;      // the board's sense resistor
    double vrefDivisor = 5.0;    // the driver's internal VREF ratio
    double amplitudeAmps = 0.0;  // full-scale coil current: VREF / divisor / sense resistor
    // Winding currents in amperes, signed: coilA flows out of OUT1A through
    // winding 1 into OUT1B, coilB out of OUT2A through winding 2 into OUT2B.
    double coilA = 0.0;
    double coilB = 0.0;
    // The chopper: each period starts with the bridge of a winding on (its
    // driven output at the motor supply, the other low) for duty x period,
    // then both outputs low (slow decay).
    double motorVolts = 0.0;        // the board's motor supply (24 V)
    std::int64_t chopPeriodNs = 0;
    double duty1 = 0.0, duty2 = 0.0; // on-time fractions, 0 while a winding carries no current
    // What a probe sees now (at the board time of the query).
    double out1a = 0.0, out1b = 0.0, out2a = 0.0, out2b = 0.0; // volts
    double iccAmps = 0.0;     // motor supply current now
    double iccMeanAmps = 0.0; // its mean over a chopping period
};

// The DUT's junction temperature and the temperature ADC (0x64/0x65).
struct ThermalState {
    double ambientCelsius = 0.0;
    double timeConstantSeconds = 0.0;
    double junctionCelsius = 0.0;
    double powerWatts = 0.0;        // dissipated now
    double steadyCelsius = 0.0;     // where the junction settles at this power
    double kelvinPerWatt = 0.0;     // junction to ambient
    double bridgeOhms = 0.0;        // per winding: high plus low switch
    std::uint16_t code = 0;         // what the ADC reads now
    double diodeMillivolts = 0.0;
};

// The scope front end (registers 0x70..0x7B) as it runs.
struct ScopeState {
    enum class Phase : std::uint8_t {
        Stopped,           // no channel enabled in 0x70
        WaitingForTrigger, // armed, looking for the trigger edge
        Acquiring,         // triggered: taking the sweep's samples
        Uploading,         // sweep complete: its records go out as the host reads
    };
    Phase phase = Phase::Stopped;
    std::uint8_t control = 0;                // 0x70: bits 0..3 channels, bits 6..7 trigger channel
    std::uint8_t channelConfig[4] = {};      // 0x78..0x7B
    std::uint16_t divider = 0;               // 0x72/0x73 of the sweep in progress
    std::int64_t samplePeriodNs = 0;         // (divider + 4) x 25 ns
    unsigned recordLength = 0;               // samples per channel per sweep
    std::uint16_t triggerCode = 0;           // 0x76 and bits 0..6 of 0x77
    bool fallingSlope = false;               // 0x77 bit 7
    bool triggerArmed = false;               // bit 0 of the trigger channel's configuration byte
    std::uint64_t sweepsAcquired = 0;        // since the FPGA was configured
    std::uint64_t sweepsUploaded = 0;        // sweep-finished records sent
    std::int64_t lastTriggerNs = -1;         // board time of the last sweep's first sample
};

// Faults of the thermal chamber's controller.
enum class ChamberFault : std::uint8_t {
    None,
    NoAnswer,     // requests are taken in and never answered
    Garbled,      // every reply goes out with a corrupted byte (its CRC fails)
    StuckReading, // the air readings stay at the value they had when the fault was set
};

// The thermal chamber (started by Control::startChamber) as it runs.
struct ChamberState {
    bool started = false;
    std::string port;             // the pseudo-terminal the controller answers on
    double setpointCelsius = 0.0; // set point 1 as the air will reach it
    double airCelsius = 0.0;      // the true air, the DUT's ambient
    double shownCelsius = 0.0;    // what the controller's reading register holds
    bool running = true;          // register 0x003A is 0
    double rampPerMinute = 0.0;
    double lagSeconds = 0.0;
    ChamberFault fault = ChamberFault::None;
    std::uint64_t requests = 0;   // frames with a good CRC for this slave
    std::uint64_t answered = 0;   // of them, answered (in whatever shape)
};

// The scope front end's zero offsets after reset(), in converter codes, per
// channel (CH1 first) and source kind (voltage, current, ICC): 70 mV per
// voltage code, 12 mA per current code.
inline constexpr std::array<std::array<int, 3>, 4> kDefaultScopeInputOffsetCodes{{
    {{1, 3, -2}}, {{-1, -2, 3}}, {{1, 2, -3}}, {{-1, -4, 2}}}};

class SIMBOARD_API Control {
public:
    explicit Control(Board& board = Board::instance());

    // ---- The board as a whole ----------------------------------------------

    // Power-up state with default settings: bare FX2, FPGA unconfigured, bus
    // timing on, real time, no time-out limit, no faults, empty log and no
    // response blocks. Tests call this first.
    void reset();
    // Unplugs the board (false: it vanishes from the bus; waiting transfers
    // end with NoDevice) or plugs it in again (true: powered up bare).
    void setPresent(bool present);
    // Shortcuts for tests of other parts: as if the firmware had been loaded
    // and the port cycled; as if the FPGA had been configured with an image.
    // Hardware Ready still waits for the host to set port A bit 7.
    void startFirmware();
    void configureFpga();

    // ---- Time ----------------------------------------------------------------

    void setBusTiming(bool on);
    void setBusTiming(const BusTiming& costs); // and switches it on
    // Virtual time: board time only moves by advanceTime() and by modelled
    // costs (bus time, time-outs), which then return at once. In real time
    // advanceTime() does nothing.
    void setVirtualTime(bool on);
    void advanceTime(std::chrono::nanoseconds dt);
    std::int64_t nowNs() const;
    // Caps every real-time wait (time-outs, NAKed endpoints) so that fault
    // tests stay fast; nullopt waits as long as the host asked.
    void setTimeoutLimit(std::optional<std::chrono::milliseconds> limit);

    // ---- Inspection ------------------------------------------------------------

    bool firmwareRunning() const;
    bool cpuHeldInReset() const;
    std::vector<std::uint8_t> fx2Memory(std::uint16_t address, std::size_t n) const;
    std::uint8_t portA() const;
    std::uint8_t portD() const;
    bool nakAll() const;
    FpgaState fpgaState() const;
    std::vector<std::uint8_t> fpgaImage() const;
    std::uint8_t registerValue(std::uint8_t reg) const;
    std::uint16_t dacCode(std::uint8_t channelCode) const; // 128..135
    int supplyMillivolts() const;                          // 0, 3300 or 5000
    std::vector<std::uint8_t> blockMemory(std::uint8_t target, std::uint16_t start,
                                          std::size_t n) const;
    std::size_t blocksWaiting() const;
    std::uint64_t statusRequests() const; // 0xFD polls (kept out of the log)
    // Transfers waiting on the board right now (a NAKing endpoint, a timed-out
    // fault): a test waits for this before it aborts, unplugs or answers them.
    std::size_t waitingTransfers() const;
    std::uint64_t droppedBlocks() const;  // response blocks lost to a full queue
    ClockGeneratorState clockGenerator() const;
    DutState dut() const;
    ScopeState scope() const;
    ThermalState thermal() const;
    // Pattern-sequencer records applied since the FPGA was configured.
    std::uint64_t sequenceRowsApplied() const;

    // The ordered event log (the most recent 262144 events).
    std::vector<LogEvent> log() const;
    void clearLog();
    // Also append the log as text to this file ("" stops). Set from the
    // environment variable ZELBO_BOARD_LOG when the board is created.
    bool setLogFile(const std::string& path);

    // ---- Steering ----------------------------------------------------------------

    // Queues a response block of the test's own making (up to 512 bytes,
    // zero padded) behind those already waiting on EP2.
    void queueResponseBlock(const std::vector<std::uint8_t>& bytes);
    // Port A bit 1: whether the board supports scope commands (default yes).
    void setScopeCapable(bool capable);
    // The sense resistor on the board and the driver's VREF ratio, which set
    // the coil current amplitude (defaults 0.2 ohm and 5).
    void setDutSense(double senseOhms, double vrefDivisor = 5.0);
    // The little seeded noise on every scope sample (+-1 code; on by default,
    // and back on after reset()). Off, samples are the exact codes of the DUT model.
    void setProbeNoise(bool on);
    // The junction's thermal model (defaults 25 degrees ambient, 20 s; a time
    // constant of 0 follows the power at once); puts the die at ambient. And
    // the die's diode, Vf = a - b x Tj millivolts (defaults 672.29, 2.0836).
    void setThermalModel(double ambientCelsius, double timeConstantSeconds);
    void setDiode(double aMillivolts, double bMillivoltsPerDegree);
    // The front end's zero offsets of channel 0..3 for each source kind, as
    // an input at rest reads them (rounded to whole converter codes: 70 mV,
    // 12 mA). After reset() every channel has its own small offsets of one
    // to four codes; all zeros give exact readings.
    void setScopeInputOffsets(int channel, double volts, double currentAmps, double iccAmps);

    // ---- The thermal chamber ---------------------------------------------------

    // Starts the chamber's temperature controller (Modbus RTU, slave 1) on a
    // new pseudo-terminal and makes the chamber's air the DUT's ambient; once
    // per process, later calls return the same port. With `linkPath`, that
    // path also becomes a symbolic link to the port (replaced atomically). ""
    // when no pseudo-terminal could be had. A board created with the
    // environment variable ZELBO_SIM_CHAMBER set starts it at once, linked
    // there. reset() keeps the controller serving, with the chamber at 25
    // degrees, the default ramp and lag and no fault.
    std::string startChamber(const std::string& linkPath = {});
    // How fast the controller ramps toward its set point and the air's lag
    // behind that ramp (defaults 30 degrees a minute and 15 s).
    void setChamberModel(double rampCelsiusPerMinute, double lagSeconds);
    void setChamberFault(ChamberFault fault);
    ChamberState chamber() const;

    // ---- Faults --------------------------------------------------------------------

    // Stall vendor request `request` the next `times` times (-1: until cleared).
    void stallRequest(std::uint8_t request, int times = -1);
    void clearStalls();
    void failControlTransfers(int n);    // next n control transfers: Error
    void failBulkWrites(int n);          // next n bulk OUT transfers: Error
    void timeoutBulkWrites(int n);       // next n bulk OUT transfers: Timeout
    void failBulkReads(int n);           // next n bulk IN transfers: Error
    void timeoutBulkReads(int n);        // next n bulk IN transfers: Timeout
    void setNeverAcceptCommands(bool on); // EP4 never empties; OUT transfers NAK
    void setNeverSendHardwareReady(bool on);
    void setFailConfiguration(bool on);  // the closing bytes leave the FPGA failed
    void sendGarbageBlocks(int n);       // n blocks of noise ahead of the queue
    void setDownloadTakes(bool takes);   // false: a firmware download does not take

private:
    Board& board_;
};

} // namespace simboard
