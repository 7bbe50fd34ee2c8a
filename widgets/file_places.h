#pragma once
// Where the file dialogs start and what name they propose.
//
// Each kind of file (settings, sequence tables, exported data, pictures, the
// temperature log, ...) remembers the folder it was last saved to or opened
// from, across runs, in the program's QSettings ("Folders/<kind>"). A save
// dialog proposes "<chip>_<yyyyMMdd-HHmmss>.<suffix>" in that folder, the chip
// being the one the window drives.

#include <functional>

#include <QDateTime>
#include <QString>

class QFileDialog;

namespace zelbo::ui {

namespace filekind {
inline constexpr const char* kSettings = "settings";
inline constexpr const char* kSequence = "sequence";
inline constexpr const char* kData = "data";
inline constexpr const char* kPicture = "picture";
inline constexpr const char* kRecording = "recording";
inline constexpr const char* kTemperatureLog = "temperature-log";
inline constexpr const char* kStepList = "step-list";
} // namespace filekind

// The chip the proposed names begin with ("TQ5170" while none is known).
// Set once by the window; a reset source is none.
void setChipNameSource(std::function<QString()> source);

// The folder last used for `kind`, when it still exists; else the user's
// documents folder (home when there is none).
QString lastFolder(const QString& kind);
// Remembers the folder of `filePath` for `kind`.
void rememberFolder(const QString& kind, const QString& filePath);

// "<chip>_<yyyyMMdd-HHmmss>", characters that do not belong in a file name
// replaced by '_'.
QString proposedName(const QDateTime& at = QDateTime::currentDateTime());
// lastFolder(kind) / proposedName() . suffix
QString proposedPath(const QString& kind, const QString& suffix);

// Starts the dialog in the kind's folder and, for a save (non-empty
// `suffix`), proposes the name. After exec(), call accepted().
void prepareDialog(QFileDialog& dialog, const QString& kind, const QString& suffix = {});
// The chosen path of an accepted dialog (remembered for its kind), or empty.
QString accepted(QFileDialog& dialog, const QString& kind);

// Why `path` cannot be read, in the system's words ("No such file or
// directory", "Permission denied", ...), for a message that names it.
QString readFailure(const QString& path);

} // namespace zelbo::ui
