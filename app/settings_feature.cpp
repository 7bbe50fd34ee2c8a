#include "app/settings_feature.h"

#include <QFileDialog>
#include <QtGlobal>

#include <algorithm>
#include <filesystem>

#include "app/main_window.h"
#include "app/program_features.h"
#include "drive/drive_core.h"
#include "drive/ui/drive_binder.h"
#include "common/atomic_file.h"
#include "common/data_folder.h"
#include "scope/analysis/math_file.h"
#include "scope/scope_core.h"
#include "scope/ui/analysis_tools.h"
#include "scope/ui/instrument.h"
#include "scope/ui/scope_binder.h"
#include "widgets/file_places.h"

namespace zelbo::app {

namespace {

const QString kFilter = QStringLiteral("Settings File (*.set)");

} // namespace

SettingsFeature::SettingsFeature(CTQ5170xHWPDlg& window, ProgramFeatures& features)
    : QObject(nullptr), window_(window), features_(features), core_(window.engine().settings())
{
    files::SettingsHooks hooks;
    hooks.boardReady = [&window] { return window.link().active(); };
    hooks.refreshViews = [&features] {
        features.drive().binder().refresh(drive::aspect::kAll);
        features.scopeBinder().refreshFromCore();
        features.showChannelColours();
    };
    hooks.modeChange = [&features] { features.rerunModeChange(); };
    hooks.rerunPowerAndClock = [&window, &features] {
        window.reapplyPowerState();
        if (features.drive().core().clockRunning()) features.drive().startClock();
        else features.drive().stopClock();
    };
    core_.setHooks(std::move(hooks));

    // First run: settings that show a moving drive at the first power-on.
    std::string error;
    const auto path = window.dataFolderPath() / files::kSettingsFileName;
    if (!files::seedFile(path, files::formatSettings(files::defaultSettings()), &error))
        qWarning("%s", error.c_str());
}

SettingsFeature::~SettingsFeature() { core_.setHooks({}); }

void SettingsFeature::setPrompts(Prompt savePath, Prompt openPath)
{
    savePrompt_ = std::move(savePath);
    openPrompt_ = std::move(openPath);
}

QString SettingsFeature::askSavePath()
{
    if (savePrompt_) return savePrompt_();
    QFileDialog dlg(&window_, tr("Save As"));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setNameFilter(kFilter);
    dlg.setDefaultSuffix(QStringLiteral("set"));
    ui::prepareDialog(dlg, ui::filekind::kSettings, QStringLiteral("set"));
    // Qt asks before overwriting by default.
    dlg.exec();
    return ui::accepted(dlg, ui::filekind::kSettings);
}

QString SettingsFeature::askOpenPath()
{
    if (openPrompt_) return openPrompt_();
    QFileDialog dlg(&window_, tr("Open"));
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setNameFilter(kFilter);
    dlg.setDefaultSuffix(QStringLiteral("set"));
    ui::prepareDialog(dlg, ui::filekind::kSettings);
    dlg.exec();
    return ui::accepted(dlg, ui::filekind::kSettings);
}

void SettingsFeature::save()
{
    const QString path = askSavePath();
    if (path.isEmpty()) return;
    std::string error;
    if (!core_.save(path.toStdString(), &error)) {
        qWarning("%s", error.c_str());
        // The fixed message, and the reason where it stays in view.
        window_.setStatusPaneText(0, tr("Settings not saved: %1").arg(QString::fromStdString(error)));
        window_.messages().show(files::kSettingsSaveFailed, "Error", MsgIcon::Warning);
        return;
    }
    window_.setStatusPaneText(0, tr("Settings saved to %1").arg(path));
    saveMath(path);
}

void SettingsFeature::saveMath(const QString& settingsPath)
{
    auto* instrument = features_.instrumentIfMade();
    if (!instrument) return;
    const auto setups = instrument->analysis().math().setups();
    const auto path = scope::analysis::mathPathFor(settingsPath.toStdString());
    std::error_code ec;
    const bool any = std::any_of(setups.begin(), setups.end(), [](const auto& m) { return !m.expression.empty(); });
    // Written when there is something to keep, or an older file would
    // otherwise bring back math channels that were since turned off.
    if (!any && !std::filesystem::exists(path, ec)) return;
    std::string error;
    if (!scope::analysis::writeMathFile(path, setups, &error)) {
        qWarning("%s", error.c_str());
        window_.setStatusPaneText(0, tr("Math channels not saved: %1").arg(QString::fromStdString(error)));
    }
}

void SettingsFeature::loadMath(const QString& settingsPath)
{
    auto* instrument = features_.instrumentIfMade();
    if (!instrument) return;
    scope::analysis::MathSetups setups{};
    std::vector<std::string> notes;
    std::string error;
    if (!scope::analysis::readMathFile(scope::analysis::mathPathFor(settingsPath.toStdString()), setups, &notes,
                                       &error))
        notes.push_back(error);
    instrument->analysis().applySetups(setups);
    if (!notes.empty()) window_.setStatusPaneText(0, QString::fromStdString(notes.front()));
}

void SettingsFeature::open()
{
    if (!window_.powerOn()) {
        window_.messages().show(tr("Please power on software first.").toStdString(), kAppCaption,
                                MsgIcon::Information);
        return;
    }
    const QString path = askOpenPath();
    if (path.isEmpty()) return;
    // Whatever runs ends before the file's set-up reaches the board (an open
    // dynamic window asks first; No keeps it, and the file is not loaded).
    if (!window_.engine().endActivity(engine::EndCause::FileOpen)) return;
    load(path);
}

void SettingsFeature::loadDefault()
{
    load(QString::fromStdString((window_.dataFolderPath() / files::kSettingsFileName).string()));
}

files::SettingsLoadResult SettingsFeature::load(const QString& path)
{
    const files::SettingsLoadResult r = core_.load(path.toStdString());
    if (!r.opened) {
        window_.messages().show(files::kSettingsOpenFailed, kAppCaption, MsgIcon::None);
        return r;
    }
    // Every load replaces what an earlier one said; a clean file clears it
    // (a note of anyone else stays).
    const QString note = QString::fromStdString(files::SettingsCore::statusText(r));
    if (!note.isEmpty() || (!lastNote_.isEmpty() && window_.statusPaneText(0) == lastNote_))
        window_.setStatusPaneText(0, note);
    lastNote_ = note;
    loadMath(path);
    return r;
}

} // namespace zelbo::app
