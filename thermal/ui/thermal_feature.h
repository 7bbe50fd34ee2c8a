#pragma once
// The thermometer and the temperature monitor, bound to the main window: the
// 1000 ms reading shown on the THERMOMETER gauge, View > Tj Monitor, and the
// operating point each monitor step applies to the drive.
//
// The window reaches the drive only through the host functions, so this
// folder knows neither the window nor the drive's classes.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QObject>
#include <QPointer>

#include "thermal/monitor.h"
#include "thermal/thermometer.h"
#include "thermal/ui/tj_mon_dlg.h"
#include "widgets/meter_wnd.h"

class QWidget;

namespace zelbo {
class MessageService;
}

namespace zelbo::thermal {

struct ThermalHost {
    std::function<bool()> poweredOn;
    std::function<int()> mode;                       // 0: Clk-In
    std::function<std::string()> chipName;
    std::function<std::pair<double, double>()> chipCoefficients; // A, B of the selected chip
    std::function<double()> vref;                    // volts, as applied now
    std::function<void(const std::string&)> applyVref; // into the field, then to the board
    std::function<void(const std::string&)> applyMth;
    std::function<void(bool ps, bool mode0, bool mode1)> setStepPins;
    // A run starts (the refusal's text when it may not) and ends; the drive
    // controls are off in between.
    std::function<std::optional<std::string>()> beginRun;
    std::function<void()> runEnded;
    std::function<void(std::chrono::milliseconds)> pause;
    std::function<void(const std::string&)> statusNote; // a sentence for the status bar
};

class ThermalFeature : public QObject {
    Q_OBJECT
public:
    // On the engine's thermometer and monitor log, which outlive this.
    ThermalFeature(MessageService& messages, Thermometer& thermometer, TemperatureLog& log, ThermalHost host,
                   QWidget* window);
    ~ThermalFeature() override;

    Thermometer& thermometer() { return thermometer_; }
    TemperatureLog& log() { return log_; }
    CTJMonDlg* monitor() const { return monitor_.data(); }
    CMeterWnd* gauge() const { return gauge_.data(); }
    // The gauge that stands in the THERMOMETER group.
    void setGauge(CMeterWnd* gauge);

    // Any thread (the link's reader): a whole diode code.
    void onDiodeCode(std::uint16_t code);
    // GUI thread, on each 1000 ms tick: the coefficients of the chip now selected.
    void tick();
    // View > Tj Monitor.
    void showMonitor();
    // Ends a running run from outside (what was logged stays) and, with
    // `hide`, hides the window ("Change").
    void stopMonitor(bool hide);
    // A monitor step (the main window's side of it).
    void onStep(bool final, const std::optional<StepRecord>& record);

private:
    MessageService& messages_;
    ThermalHost host_;
    Thermometer& thermometer_;
    TemperatureLog& log_;
    QPointer<CMeterWnd> gauge_;
    bool overRated_ = false;
    void showTj(double tj);
    QPointer<CTJMonDlg> monitor_;
};

} // namespace zelbo::thermal
