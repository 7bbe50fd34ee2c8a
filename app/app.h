#pragma once
// The application object: everything before and after the main window lives.
// It refuses to run twice, chooses the language, seeds the data folder, shows
// the progress window for the board bring-up, runs the main window and tears
// everything down in order.

#include <memory>

#include <QSize>
#include <QString>

#include "app/single_instance.h"

class QApplication;

namespace zelbo {
class MessageService;
}

class CTQ5170xHWPApp {
public:
    explicit CTQ5170xHWPApp(QApplication& app);
    ~CTQ5170xHWPApp();

    // Start-up, the main window's life and exit. The process's exit code.
    int run();

    // The message shown by a second copy.
    static QString alreadyRunningText();
    // Takes the single-instance lock (10 attempts, 500 ms apart); when another
    // copy keeps it, shows the message and returns false.
    static bool enforceSingleInstance(zelbo::app::SingleInstance& instance, zelbo::MessageService& messages,
                                      const zelbo::app::SingleInstance::Sleeper& sleeper = {});

    // The size the main window opens at: 1280 x 800 where the screen's free
    // area has room for it and the title bar above it, else as much as fits,
    // never below the window's own minimum.
    static QSize openingSize(const QSize& available, const QSize& minimum);

private:
    QApplication& app_;
};
