#include "scope/ui/save_waveform.h"

#include <QFileDialog>

#include "common/message_service.h"
#include "scope/chart/chart.h"
#include "widgets/file_places.h"

namespace zelbo::scope {

void configureWaveformDialog(QFileDialog& dialog)
{
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("JPEG (*.jpeg)"));
    dialog.setDefaultSuffix(QStringLiteral("jpeg"));
    ui::prepareDialog(dialog, ui::filekind::kPicture, QStringLiteral("jpeg"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
}

QString askWaveformPath(QWidget* parent)
{
    QFileDialog dialog(parent, QObject::tr("Save Waveform"));
    configureWaveformDialog(dialog);
    dialog.exec();
    return ui::accepted(dialog, ui::filekind::kPicture);
}

bool exportWaveform(CChart& chart, const QString& path, MessageService* messages, QString* reason)
{
    if (path.isEmpty())
        return false;
    QString why;
    const bool ok = chart.saveJpeg(path, &why);
    if (!ok) {
        if (why.isEmpty()) why = QStringLiteral("unknown error");
        if (reason) *reason = why;
        if (messages)
            messages->show("The waveform could not be saved to \"" + path.toStdString() + "\": " + why.toStdString() +
                               ".",
                           kAppCaption, MsgIcon::Warning);
    }
    return ok;
}

} // namespace zelbo::scope
