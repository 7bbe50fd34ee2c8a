#include "scope/ui/save_waveform.h"

#include <QFileDialog>

#include "common/message_service.h"
#include "scope/chart/chart.h"

namespace zelbo::scope {

void configureWaveformDialog(QFileDialog& dialog)
{
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("JPEG (*.jpeg)"));
    dialog.setDefaultSuffix(QStringLiteral("jpeg"));
    dialog.selectFile(QStringLiteral("TQ5170"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
}

QString askWaveformPath(QWidget* parent)
{
    QFileDialog dialog(parent, QObject::tr("Save Waveform"));
    configureWaveformDialog(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

bool exportWaveform(CChart& chart, const QString& path, MessageService* messages)
{
    if (path.isEmpty())
        return false;
    const bool ok = chart.saveJpeg(path);
    if (!ok && messages)
        messages->show("The waveform could not be saved to \"" + path.toStdString() + "\".", kAppCaption,
                       MsgIcon::Warning);
    return ok;
}

} // namespace zelbo::scope
