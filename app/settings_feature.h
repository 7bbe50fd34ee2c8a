#pragma once
// File > Open and File > Save, and the settings the program starts with: the
// window's side of the settings core (file dialogs, messages, status bar).
// The data folder is seeded with a first-run settings file, never replacing
// one that is there.

#include <functional>
#include <memory>

#include <QObject>
#include <QString>

#include "files/settings_core.h"

class CTQ5170xHWPDlg;

namespace zelbo::app {

class ProgramFeatures;

class SettingsFeature : public QObject {
    Q_OBJECT
public:
    SettingsFeature(CTQ5170xHWPDlg& window, ProgramFeatures& features);
    ~SettingsFeature() override;

    files::SettingsCore& core() { return core_; }

    // The path prompts (the file dialogs by default; tests answer them). An
    // empty answer is a cancel.
    using Prompt = std::function<QString()>;
    void setPrompts(Prompt savePath, Prompt openPath);

    void save();            // File > Save
    void open();            // File > Open
    void loadDefault();     // after bring-up
    // Loads `path` with the window's messages. Returns the core's result.
    files::SettingsLoadResult load(const QString& path);

private:
    QString askSavePath();
    QString askOpenPath();

    // The math channels' file beside the settings file ("name.zmath").
    void saveMath(const QString& settingsPath);
    void loadMath(const QString& settingsPath);

    CTQ5170xHWPDlg& window_;
    ProgramFeatures& features_;
    files::SettingsCore& core_; // the engine's
    QString lastNote_;          // what the last load put on the status bar
    Prompt savePrompt_, openPrompt_;
};

} // namespace zelbo::app
