#include "thermal/ui/thermal_feature.h"

#include <QMetaObject>
#include <QWidget>

#include "common/message_service.h"
#include "thermal/ui/tj_mon_dlg.h"
#include "widgets/meter_wnd.h"

#include <cmath>
#include <cstdio>

namespace zelbo::thermal {

ThermalFeature::ThermalFeature(MessageService& messages, Thermometer& thermometer, TemperatureLog& log,
                               ThermalHost host, QWidget* window)
    : QObject(window), messages_(messages), host_(std::move(host)), thermometer_(thermometer), log_(log)
{
    auto* dlg = new CTJMonDlg(messages_, log_, host_.chipName, window);
    dlg->setWindowFlag(Qt::Window);
    monitor_ = dlg;
    connect(dlg, &CTJMonDlg::stepReady, this, &ThermalFeature::onStep);
    dlg->setStartGate([this] {
        if (!host_.beginRun) return true;
        if (auto why = host_.beginRun()) {
            messages_.show(*why, kAppCaption, MsgIcon::Information);
            return false;
        }
        return true;
    });
    tick();
}

ThermalFeature::~ThermalFeature()
{
    delete monitor_.data();
}

void ThermalFeature::setGauge(CMeterWnd* gauge)
{
    gauge_ = gauge;
    if (gauge_) {
        gauge_->setLabel(QStringLiteral("Tj"));
        gauge_->setUnit(QStringLiteral("\u00b0C"));
        gauge_->setAlarmAbove(kRatedTjMaxCelsius);
        if (auto r = thermometer_.last()) showTj(r->tjCelsius);
    }
}

void ThermalFeature::onDiodeCode(std::uint16_t code)
{
    const Reading r = thermometer_.convert(code);
    QMetaObject::invokeMethod(this, [this, tj = r.tjCelsius] { showTj(tj); }, Qt::QueuedConnection);
}

void ThermalFeature::showTj(double tj)
{
    if (gauge_) gauge_->setReading(tj);
    // Said once when the junction passes its rating, and once when it is back.
    const bool over = std::isfinite(tj) && tj > kRatedTjMaxCelsius;
    if (over == overRated_) return;
    overRated_ = over;
    if (!host_.statusNote) return;
    char text[128];
    if (over)
        std::snprintf(text, sizeof text, "Tj %.1f \u00b0C is above the chip's rated %.0f \u00b0C.", tj,
                      kRatedTjMaxCelsius);
    else
        std::snprintf(text, sizeof text, "Tj %.1f \u00b0C is back within the chip's rated %.0f \u00b0C.", tj,
                      kRatedTjMaxCelsius);
    host_.statusNote(text);
}

void ThermalFeature::tick()
{
    if (host_.chipCoefficients) {
        const auto [a, b] = host_.chipCoefficients();
        thermometer_.setCoefficients(a, b);
    }
}

void ThermalFeature::showMonitor()
{
    if (host_.poweredOn && !host_.poweredOn()) {
        messages_.show("Please power on software first.", kAppCaption, MsgIcon::Information);
        return;
    }
    if (host_.mode && host_.mode() != 0) {
        messages_.show("This option is available in Clk-In mode only.", kAppCaption, MsgIcon::Information);
        return;
    }
    if (monitor_->isVisible()) {
        monitor_->raise();
        monitor_->activateWindow();
        return;
    }
    monitor_->showSingleton();
}

void ThermalFeature::onStep(bool final, const std::optional<StepRecord>& record)
{
    // The row describes the step that has just ended: the VREF it ran at is
    // the one applied now, the junction is where that step has taken it.
    if (record) {
        const double vref = host_.vref ? host_.vref() : 0.0;
        log_.logStep(vref, *record, thermometer_); // Tj and Vf of one reading
    }
    if (final) {
        if (host_.runEnded) host_.runEnded();
        if (record && monitor_) monitor_->finishRun();
        return;
    }
    if (host_.applyVref) host_.applyVref(record->vrefText);
    if (host_.pause) host_.pause(std::chrono::milliseconds(50));
    if (host_.applyMth) host_.applyMth(record->mthText);
    if (host_.setStepPins && (!host_.mode || host_.mode() == 0))
        host_.setStepPins(record->ps != 0, record->mode0 != 0, record->mode1 != 0);
}

void ThermalFeature::stopMonitor(bool hide)
{
    if (!monitor_) return;
    if (monitor_->running()) monitor_->stop();
    if (hide) monitor_->hide();
}

} // namespace zelbo::thermal
