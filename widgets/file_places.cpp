#include "widgets/file_places.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace zelbo::ui {

namespace {

std::function<QString()>& chipSource()
{
    static std::function<QString()> source;
    return source;
}

QString key(const QString& kind) { return QStringLiteral("Folders/") + kind; }

} // namespace

void setChipNameSource(std::function<QString()> source) { chipSource() = std::move(source); }

QString lastFolder(const QString& kind)
{
    const QString stored = QSettings().value(key(kind)).toString();
    if (!stored.isEmpty() && QFileInfo(stored).isDir()) return stored;
    const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!docs.isEmpty() && QFileInfo(docs).isDir()) return docs;
    return QDir::homePath();
}

void rememberFolder(const QString& kind, const QString& filePath)
{
    if (filePath.isEmpty()) return;
    QSettings().setValue(key(kind), QFileInfo(filePath).absolutePath());
}

QString proposedName(const QDateTime& at)
{
    QString chip = chipSource() ? chipSource()() : QString();
    chip = chip.trimmed();
    if (chip.isEmpty()) chip = QStringLiteral("TQ5170");
    for (QChar& c : chip)
        if (!(c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('.'))) c = QLatin1Char('_');
    return chip + QLatin1Char('_') + at.toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

QString proposedPath(const QString& kind, const QString& suffix)
{
    return QDir(lastFolder(kind)).filePath(proposedName() + QLatin1Char('.') + suffix);
}

void prepareDialog(QFileDialog& dialog, const QString& kind, const QString& suffix)
{
    dialog.setDirectory(lastFolder(kind));
    if (!suffix.isEmpty()) dialog.selectFile(proposedName() + QLatin1Char('.') + suffix);
}

QString accepted(QFileDialog& dialog, const QString& kind)
{
    if (dialog.result() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    const QString path = dialog.selectedFiles().constFirst();
    rememberFolder(kind, path);
    return path;
}

QString readFailure(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir()) return QObject::tr("it is a folder");
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return f.errorString();
    return QObject::tr("it could not be read");
}

} // namespace zelbo::ui
