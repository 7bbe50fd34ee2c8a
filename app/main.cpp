#include <QApplication>
#include <QStyleFactory>

#include "app/app.h"
#include "app/style.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    applyInstrumentStyle(app);
    CTQ5170xHWPApp zelbo(app);
    return zelbo.run();
}
