#include "thermal/workbook.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include <xlsxwriter.h>

#include "common/number_text.h"

namespace zelbo::thermal {

namespace {

constexpr int kFirstDataRow = 5; // row 6: the rows below the headings
const char* const kHeadings[4] = {"Time (mins)", "Io (mA)", "Temp (C)", "Vf (mV)"};

void setError(std::string* error, std::string text)
{
    if (error) *error = std::move(text);
}

} // namespace

namespace {

bool sameNameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Removes the temporary file and frees an unfinished workbook on every way
// out that does not hand the file on.
struct Unfinished {
    std::string tmp;
    lxw_workbook* wb = nullptr;
    ~Unfinished()
    {
        if (wb) lxw_workbook_free(wb);
        if (!tmp.empty()) std::remove(tmp.c_str());
    }
};

bool failed(std::string* error, WorkbookFailure* failure, const std::string& what, lxw_error e)
{
    setError(error, what + ": " + lxw_strerror(e));
    if (failure) *failure = WorkbookFailure::Workbook;
    return false;
}

bool failed(std::string* error, WorkbookFailure* failure, const std::string& what)
{
    setError(error, what);
    if (failure) *failure = WorkbookFailure::Workbook;
    return false;
}

} // namespace

std::string sheetNameFor(const std::string& chipName)
{
    std::string name;
    for (char c : chipName) {
        if (std::strchr("[]:*?/\\", c) || static_cast<unsigned char>(c) < 0x20) continue;
        name += c;
    }
    // 31 characters (UTF-8 sequences are not cut in half).
    std::size_t chars = 0, cut = name.size();
    for (std::size_t i = 0; i < name.size(); ++i) {
        if ((static_cast<unsigned char>(name[i]) & 0xC0) == 0x80) continue;
        if (++chars > 31) {
            cut = i;
            break;
        }
    }
    name.resize(cut);
    while (!name.empty() && name.front() == '\'') name.erase(name.begin());
    while (!name.empty() && name.back() == '\'') name.pop_back();
    // Sheet names are compared without regard to case: the chart sheet's
    // name and the one a spreadsheet reserves are taken in any case.
    if (name.empty() || sameNameIgnoringCase(name, kChartTitle) || sameNameIgnoringCase(name, "History"))
        name = "Sheet1";
    return name;
}

bool writeWorkbook(const std::string& path, const std::string& chipName, const std::vector<LogRow>& rows,
                   std::string* error, WorkbookFailure* failure)
{
    if (failure) *failure = WorkbookFailure::None;
    Unfinished job;
    job.tmp = files::createTemporaryBeside(path, error).string();
    if (job.tmp.empty()) {
        if (failure) *failure = WorkbookFailure::Folder;
        return false;
    }

    job.wb = workbook_new(job.tmp.c_str());
    if (!job.wb) return failed(error, failure, "cannot start a workbook");
    lxw_workbook* wb = job.wb;
    const std::string sheetName = sheetNameFor(chipName);
    if (const lxw_error e = workbook_validate_sheet_name(wb, sheetName.c_str()); e != LXW_NO_ERROR)
        return failed(error, failure, "sheet name \"" + sheetName + "\"", e);
    lxw_worksheet* ws = workbook_add_worksheet(wb, sheetName.c_str());
    if (!ws) return failed(error, failure, "cannot add the sheet \"" + sheetName + "\"");
    lxw_format* bold = workbook_add_format(wb);
    lxw_format* whole = workbook_add_format(wb);
    lxw_format* hundredths = workbook_add_format(wb);
    if (!bold || !whole || !hundredths) return failed(error, failure, "cannot add a cell format");
    format_set_bold(bold);
    format_set_num_format(whole, "0");
    format_set_num_format(hundredths, "0.00");

    lxw_error e = worksheet_write_string(ws, 0, 0, "Temperature Monitor", bold);
    if (e == LXW_NO_ERROR) e = worksheet_write_string(ws, 1, 0, ("Chip Name: " + chipName).c_str(), nullptr);
    for (lxw_col_t c = 0; c < 4 && e == LXW_NO_ERROR; ++c) e = worksheet_write_string(ws, 4, c, kHeadings[c], bold);
    lxw_row_t r = kFirstDataRow;
    for (const LogRow& row : rows) {
        const std::string* cells[4] = {&row.time, &row.io, &row.temp, &row.vf};
        for (lxw_col_t c = 0; c < 4 && e == LXW_NO_ERROR; ++c)
            e = worksheet_write_number(ws, r, c, zelbo::parseLeadingNumber(*cells[c]),
                                       c == 0 ? nullptr : c == 2 ? hundredths : whole); // minutes as they come
        if (e != LXW_NO_ERROR) break;
        ++r;
    }
    if (e != LXW_NO_ERROR) return failed(error, failure, "cannot write the log to the sheet", e);

    if (!rows.empty()) {
        const lxw_row_t last = kFirstDataRow + static_cast<lxw_row_t>(rows.size()) - 1;
        if (const lxw_error n = workbook_validate_sheet_name(wb, kChartTitle); n != LXW_NO_ERROR)
            return failed(error, failure, std::string("chart sheet name \"") + kChartTitle + "\"", n);
        lxw_chart* chart = workbook_add_chart(wb, LXW_CHART_LINE);
        if (!chart) return failed(error, failure, "cannot add the chart");
        lxw_chart_series* series = chart_add_series(chart, nullptr, nullptr);
        if (!series) return failed(error, failure, "cannot add the chart's series");
        chart_series_set_categories(series, sheetName.c_str(), kFirstDataRow, 0, last, 0);
        chart_series_set_values(series, sheetName.c_str(), kFirstDataRow, 2, last, 2);
        chart_series_set_name_range(series, sheetName.c_str(), 4, 2);
        chart_series_set_marker_type(series, LXW_CHART_MARKER_AUTOMATIC);
        chart_title_set_name(chart, kChartTitle);
        chart_axis_set_name(chart->x_axis, kHeadings[0]);
        chart_axis_set_name(chart->y_axis, kHeadings[2]);
        chart_legend_set_position(chart, LXW_CHART_LEGEND_NONE);
        lxw_chartsheet* cs = workbook_add_chartsheet(wb, kChartTitle);
        if (!cs) return failed(error, failure, std::string("cannot add the chart sheet \"") + kChartTitle + "\"");
        if (const lxw_error c = chartsheet_set_chart(cs, chart); c != LXW_NO_ERROR)
            return failed(error, failure, "cannot place the chart", c);
    }

    // workbook_close() frees the workbook whatever it returns.
    job.wb = nullptr;
    if (const lxw_error c = workbook_close(wb); c != LXW_NO_ERROR)
        return failed(error, failure, "cannot write the workbook", c);
    if (!files::replaceWithTemporary(job.tmp, path, error)) { // removes the temporary file itself
        job.tmp.clear();
        if (failure) *failure = WorkbookFailure::Replace;
        return false;
    }
    job.tmp.clear();
    return true;
}

std::string logCsvText(const std::string& chipName, const std::vector<LogRow>& rows)
{
    std::string out = "Temperature Monitor\n";
    out += "Chip Name: " + chipName + "\n\n";
    out += "Time (mins),Io (mA),Temp (C),Vf (mV)\n";
    for (const LogRow& r : rows) out += r.time + "," + r.io + "," + r.temp + "," + r.vf + "\n";
    return out;
}

std::string csvPathFor(const std::string& workbookPath)
{
    const auto slash = workbookPath.find_last_of('/');
    const auto dot = workbookPath.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return workbookPath + ".csv";
    return workbookPath.substr(0, dot) + ".csv";
}

bool writeLogCsv(const std::string& path, const std::string& chipName, const std::vector<LogRow>& rows,
                 std::string* error)
{
    return writeFileAtomically(path, logCsvText(chipName, rows), error);
}

} // namespace zelbo::thermal
