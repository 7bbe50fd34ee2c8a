#pragma once
// Export of the temperature log: an .xlsx workbook with the log on a sheet
// named after the chip and a line chart "Time vs Temp" of the temperature
// over the time, or the same table as a CSV file. Both are written to a
// temporary file in the target folder and renamed over the target, so an
// existing file is replaced only by a whole new one.

#include <string>
#include <vector>

#include "common/atomic_file.h"
#include "thermal/monitor.h"

namespace zelbo::thermal {

inline constexpr const char* kChartTitle = "Time vs Temp";

// A legal worksheet name: no []:*?/\, at most 31 characters, not starting or
// ending with an apostrophe, and not empty, the chart sheet's name or the
// name a spreadsheet reserves ("History"), in any case ("Sheet1" then).
std::string sheetNameFor(const std::string& chipName);

// Why an export failed: no file can be made in the folder (a CSV there would
// fail too), the workbook library failed, or the finished workbook could
// not take the chosen name's place.
enum class WorkbookFailure { None, Folder, Workbook, Replace };

// Writes the workbook; false with a reason in `error` when it could not be
// written (nothing is left behind then, not even a temporary file).
bool writeWorkbook(const std::string& path, const std::string& chipName, const std::vector<LogRow>& rows,
                   std::string* error, WorkbookFailure* failure = nullptr);

// The CSV form: title, chip name, headings and one line per row.
std::string logCsvText(const std::string& chipName, const std::vector<LogRow>& rows);
// The workbook name with its extension replaced by ".csv" (or ".csv" added).
std::string csvPathFor(const std::string& workbookPath);
bool writeLogCsv(const std::string& path, const std::string& chipName, const std::vector<LogRow>& rows,
                 std::string* error);

// Step lists and the CSV log are written through a temporary file beside
// the target.
using files::writeFileAtomically;

} // namespace zelbo::thermal
