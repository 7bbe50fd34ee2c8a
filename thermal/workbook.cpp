#include "thermal/workbook.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>


#include <xlsxwriter.h>

#include "drive/number_text.h"

namespace zelbo::thermal {

namespace {

constexpr int kFirstDataRow = 5; // row 6: the rows below the headings
const char* const kHeadings[4] = {"Time (mins)", "Io (mA)", "Temp (C)", "Vf (mV)"};

void setError(std::string* error, std::string text)
{
    if (error) *error = std::move(text);
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
    if (name.empty() || name == kChartTitle) name = "Sheet1";
    return name;
}

bool writeWorkbook(const std::string& path, const std::string& chipName, const std::vector<LogRow>& rows,
                   std::string* error)
{
    const std::string tmp = files::createTemporaryBeside(path, error).string();
    if (tmp.empty()) return false;

    lxw_workbook* wb = workbook_new(tmp.c_str());
    if (!wb) {
        setError(error, "cannot create the workbook");
        std::remove(tmp.c_str());
        return false;
    }
    const std::string sheetName = sheetNameFor(chipName);
    lxw_worksheet* ws = workbook_add_worksheet(wb, sheetName.c_str());
    lxw_format* bold = workbook_add_format(wb);
    format_set_bold(bold);
    lxw_format* whole = workbook_add_format(wb);
    format_set_num_format(whole, "0");
    lxw_format* hundredths = workbook_add_format(wb);
    format_set_num_format(hundredths, "0.00");

    worksheet_write_string(ws, 0, 0, "Temperature Monitor", bold);
    worksheet_write_string(ws, 1, 0, ("Chip Name: " + chipName).c_str(), nullptr);
    for (lxw_col_t c = 0; c < 4; ++c) worksheet_write_string(ws, 4, c, kHeadings[c], bold);
    lxw_row_t r = kFirstDataRow;
    for (const LogRow& row : rows) {
        const std::string* cells[4] = {&row.time, &row.io, &row.temp, &row.vf};
        for (lxw_col_t c = 0; c < 4; ++c) {
            worksheet_write_number(ws, r, c, drive::parseLeadingNumber(*cells[c]), c == 2 ? hundredths : whole);
        }
        ++r;
    }

    if (!rows.empty()) {
        const lxw_row_t last = kFirstDataRow + static_cast<lxw_row_t>(rows.size()) - 1;
        lxw_chart* chart = workbook_add_chart(wb, LXW_CHART_LINE);
        lxw_chart_series* series = chart_add_series(chart, nullptr, nullptr);
        chart_series_set_categories(series, sheetName.c_str(), kFirstDataRow, 0, last, 0);
        chart_series_set_values(series, sheetName.c_str(), kFirstDataRow, 2, last, 2);
        chart_series_set_name_range(series, sheetName.c_str(), 4, 2);
        chart_series_set_marker_type(series, LXW_CHART_MARKER_AUTOMATIC);
        chart_title_set_name(chart, kChartTitle);
        chart_axis_set_name(chart->x_axis, kHeadings[0]);
        chart_axis_set_name(chart->y_axis, kHeadings[2]);
        chart_legend_set_position(chart, LXW_CHART_LEGEND_NONE);
        lxw_chartsheet* cs = workbook_add_chartsheet(wb, kChartTitle);
        chartsheet_set_chart(cs, chart);
    }

    const lxw_error e = workbook_close(wb);
    if (e != LXW_NO_ERROR) {
        setError(error, lxw_strerror(e));
        std::remove(tmp.c_str());
        return false;
    }
    return files::replaceWithTemporary(tmp, path, error);
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
