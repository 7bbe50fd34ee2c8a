// The library's C interface. Each export checks its arguments, runs one
// transaction through a Controller on the "com1" device and converts the
// result; nothing thrown inside ever leaves through here.

#include "calora/calora.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>

#include "calora/calibration.h"
#include "calora/controller.h"
#include "calora/report.h"
#include "calora/serial_port.h"

namespace {

using calora::MessageKind;

constexpr std::uint16_t kRegTemp1 = 0x0000;
constexpr std::uint16_t kRegTemp2 = 0x0002;
constexpr std::uint16_t kRegAutoTransfer1 = 0x0034;
constexpr std::uint16_t kRegAutoTransfer2 = 0x0036;
constexpr std::uint16_t kRegRunStop = 0x003A;
constexpr std::uint16_t kRegSetPoint1 = 0x004E;
constexpr std::uint16_t kRegSetPoint2 = 0x005A;
constexpr std::uint16_t kRegBarGraph = 0x0202;
constexpr std::uint16_t kRegOutputType1 = 0x0242;
constexpr std::uint16_t kRegOutputType2 = 0x0248;
constexpr std::uint16_t kRegOutputType3 = 0x024E;
constexpr std::uint16_t kRegInput2Use = 0x0286;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// GetBarGraphDisplaySel's answer when nothing was read; selections are 0-9.
constexpr unsigned char kNoSelection = 0xFF;

calora::StderrReporter g_reporter;

// The coefficients are the one piece of state that outlives a call; they are
// guarded so that a caller changing them from another thread does not tear a
// reading in half.
std::mutex g_calMutex;
calora::Calibration g_cal;

calora::Calibration calibration()
{
    std::lock_guard lock(g_calMutex);
    return g_cal;
}

calora::Controller controller()
{
    return calora::Controller(calora::portDevice(), g_reporter);
}

bool writeRegister(std::uint16_t reg, std::uint16_t value)
{
    return controller().writeRegister(reg, value);
}

double readTemperature(std::uint16_t reg)
{
    const std::optional<std::uint16_t> v = controller().readRegister(reg);
    if (!v)
        return kNaN;
    return calora::invertCalibration(calora::decodeRegister(*v), calibration());
}

bool writeSetpoint(std::uint16_t reg, double t)
{
    const std::optional<std::uint16_t> v = calora::encodeSetpoint(t, calibration());
    if (!v)
        return false; // NaN or infinite: there is nothing sensible to send
    return writeRegister(reg, *v);
}

// Runs body; a failure result instead of anything thrown.
template <typename R, typename F>
R guarded(R onFailure, F&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        return onFailure;
    }
}

} // namespace

extern "C" {

bool StopTemp(void)
{
    return guarded(false, [] { return writeRegister(kRegRunStop, 1); });
}

bool RunTemp(void)
{
    return guarded(false, [] { return writeRegister(kRegRunStop, 0); });
}

double SetPoint1(double temperature)
{
    return guarded(0.0, [=] { return writeSetpoint(kRegSetPoint1, temperature) ? 1.0 : 0.0; });
}

bool SetPoint2(double temperature)
{
    return guarded(false, [=] { return writeSetpoint(kRegSetPoint2, temperature); });
}

double ReadTemp(void)
{
    return guarded(kNaN, [] { return readTemperature(kRegTemp1); });
}

double ReadTemp2(void)
{
    return guarded(kNaN, [] { return readTemperature(kRegTemp2); });
}

double GetSetPoint1(void)
{
    return guarded(kNaN, [] { return readTemperature(kRegSetPoint1); });
}

double GetSetPoint2(void)
{
    return guarded(kNaN, [] { return readTemperature(kRegSetPoint2); });
}

unsigned char SetBarGraphDisplaySel(unsigned char selection)
{
    return guarded<unsigned char>(0, [=]() -> unsigned char {
        if (selection > 9) {
            g_reporter.report(MessageKind::Warning, "Invalid value: 0 to 9 only");
            return 0;
        }
        return writeRegister(kRegBarGraph, selection) ? 1 : 0;
    });
}

unsigned char GetBarGraphDisplaySel(void)
{
    return guarded(kNoSelection, []() -> unsigned char {
        const std::optional<std::uint16_t> v = controller().readRegister(kRegBarGraph);
        return v ? static_cast<unsigned char>(*v & 0xFF) : kNoSelection;
    });
}

unsigned char SetTransmissionOutputType(unsigned char output, unsigned char type)
{
    return guarded<unsigned char>(0, [=]() -> unsigned char {
        if (type > 9) {
            g_reporter.report(MessageKind::Warning, "Invalid value: 0 to 9 only");
            return 0;
        }
        std::uint16_t reg = 0;
        switch (output) {
        case 1: reg = kRegOutputType1; break;
        case 2: reg = kRegOutputType2; break;
        case 3: reg = kRegOutputType3; break;
        default:
            g_reporter.report(MessageKind::Error, "SetTransmissionOutputType Failed");
            return 0;
        }
        return writeRegister(reg, type) ? 1 : 0;
    });
}

bool SetInput2UseSel(unsigned char selection)
{
    return guarded(false, [=] {
        if (selection > 2) {
            g_reporter.report(MessageKind::Warning, "Invalid value: 0 to 2 only");
            return false;
        }
        return writeRegister(kRegInput2Use, selection);
    });
}

unsigned char SetInputAutoTransfer(unsigned char input, unsigned char value)
{
    return guarded<unsigned char>(0, [=]() -> unsigned char {
        std::uint16_t reg = 0;
        switch (input) {
        case 1: reg = kRegAutoTransfer1; break;
        case 2: reg = kRegAutoTransfer2; break;
        default:
            g_reporter.report(MessageKind::Warning, "SetInputAutoTransfer failed");
            return 0;
        }
        return writeRegister(reg, value) ? 1 : 0;
    });
}

bool SetCalibrationData(double a, double b, double c)
{
    return guarded(true, [=] {
        std::lock_guard lock(g_calMutex);
        g_cal = calora::Calibration{a, b, c};
        return true;
    });
}

} // extern "C"
