#include "drive/sequence.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "drive/clock.h"
#include "drive/drive_core.h"
#include "common/number_text.h"

namespace zelbo::drive::sequence {

namespace {

constexpr const char* kHeaders[kColumns] = {"Time [ms]", "VREF [V]", "MTH [V]", "CLK [Hz]", "PS",
                                            "ENABLE",    "MODE0",    "MODE1",   "CW/CCW"};

struct NumberColumn {
    double max;
    double step;
};
constexpr NumberColumn kNumbers[4] = {{60000, 1}, {3.00, 0.01}, {3.50, 0.01}, {100000, 1}};

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::string upper(std::string_view s)
{
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool high(const std::string& pinCell) { return pinCell == "HI"; }

long parseLong(std::string_view text, long lo, long hi)
{
    return std::clamp<long>(parseLeadingInt(text), lo, hi);
}

} // namespace

const char* columnHeader(int column)
{
    return column >= 0 && column < kColumns ? kHeaders[column] : "";
}

bool isPinColumn(int column) { return column >= kPs && column < kColumns; }

std::string normaliseCell(int column, std::string_view text)
{
    const std::string_view t = trimmed(text);
    if (t.empty() || column < 0 || column >= kColumns) return {};
    if (isPinColumn(column)) {
        const std::string u = upper(t);
        if (u == "HI" || u == "LO") return u;
        return parseLeadingInt(u) != 0 ? "HI" : "LO";
    }
    const NumberColumn& n = kNumbers[column];
    double v = parseNumberK(t);
    if (!std::isfinite(v)) v = v > 0 ? n.max : 0.0;
    v = std::clamp(v, 0.0, n.max);
    v = std::floor(v / n.step + 0.5) * n.step;
    v = std::min(v, n.max);
    switch (column) {
    case kTime: return formatFixed(v, 0);
    case kVref:
    case kMth: return formatFixed(v, 2);
    default: return v <= 1000.0 ? formatFixed(v, 0) : formatFixed(v / 1000.0, 3) + " k";
    }
}

bool cellReadable(int column, std::string_view text)
{
    const std::string_view t = trimmed(text);
    if (t.empty()) return true;
    if (column < 0 || column >= kColumns) return false;
    if (isPinColumn(column)) {
        const std::string u = upper(t);
        if (u == "HI" || u == "LO") return true;
    }
    return readNumber(t, !isPinColumn(column)).has_value();
}

// ---- table -------------------------------------------------------------------

SequenceTable::SequenceTable() : cells_(kRows) {}

const std::string& SequenceTable::cell(int row, int column) const
{
    static const std::string empty;
    if (row < 0 || row >= kRows || column < 0 || column >= kColumns) return empty;
    return cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

void SequenceTable::setCell(int row, int column, std::string_view text)
{
    if (row < 0 || row >= kRows || column < 0 || column >= kColumns) return;
    cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = normaliseCell(column, text);
}

void SequenceTable::clear()
{
    for (auto& row : cells_)
        for (auto& c : row) c.clear();
}

int SequenceTable::usedRows() const
{
    int n = 0;
    while (n < kRows && !trimmed(cell(n, kTime)).empty()) ++n;
    return n;
}

// ---- validation --------------------------------------------------------------

Validation validate(const SequenceTable& table, int* row)
{
    if (row) *row = -1;
    const int rows = table.usedRows();
    double previous = -1.0;
    for (int r = 0; r < rows; ++r) {
        const std::string_view t = trimmed(table.cell(r, kTime));
        if (row) *row = r;
        if (t.find_first_not_of("0123456789.k") != std::string_view::npos) return Validation::InvalidTime;
        const double v = parseNumberK(t);
        if (r > 0 && !(v > previous)) return Validation::NotIncreasing;
        previous = v;
    }
    if (row) *row = -1;
    if (rows == 0) return Validation::Empty;
    return Validation::Ok;
}

const char* validationMessage(Validation v)
{
    switch (v) {
    case Validation::InvalidTime: return "Invalid time value.";
    case Validation::NotIncreasing: return "Time should be increasing.";
    case Validation::Empty: return "Dynamic sequence is empty.";
    case Validation::Ok: break;
    }
    return "";
}

// ---- records -----------------------------------------------------------------

long clockCellHz(std::string_view cell)
{
    // The cell sits on a 1 Hz grid: round, so that "1.001 k" is 1001 Hz and
    // not the 1000.999... a truncation of the product would give.
    const double v = parseNumberK(cell);
    if (!std::isfinite(v) || v <= 0.0) return 0;
    return static_cast<long>(std::llround(std::min(v, 1e9)));
}

std::vector<RowRecord> buildRows(const SequenceTable& table, int window)
{
    std::vector<RowRecord> rows;
    const int n = table.usedRows();
    rows.reserve(static_cast<std::size_t>(n));
    for (int r = 0; r < n; ++r) {
        RowRecord rec;
        rec.vref = table.cell(r, kVref);
        rec.mth = table.cell(r, kMth);
        rec.clk = std::to_string(clockCellHz(table.cell(r, kClk)));
        for (int p = 0; p < 5; ++p)
            rec.pins[static_cast<std::size_t>(p)].assign(1, high(table.cell(r, kPs + p)) ? '1' : '0');
        rec.time = table.cell(r, kTime);
        rec.window = window;
        rows.push_back(std::move(rec));
    }
    return rows;
}

PatternRecord patternRecord(const RowRecord& row, long previousTimeMs)
{
    PatternRecord b{};
    const long time = parseLeadingInt(row.time);
    const auto step = static_cast<std::uint16_t>(std::clamp<long>(time - previousTimeMs, 0, 0xFFFF));
    b[0] = static_cast<std::uint8_t>(step);
    b[1] = static_cast<std::uint8_t>(step >> 8);
    const std::uint32_t vref = DriveCore::referenceCode(parseLeadingNumber(row.vref)) & 0xFFFu;
    const std::uint32_t mth = DriveCore::referenceCode(parseLeadingNumber(row.mth)) & 0xFFFu;
    const std::uint32_t refs = vref << 12 | mth;
    b[2] = static_cast<std::uint8_t>(refs);
    b[3] = static_cast<std::uint8_t>(refs >> 8);
    b[4] = static_cast<std::uint8_t>(refs >> 16);
    const ClockCounts counts = clockCounts(parseLeadingNumber(row.clk), effectiveDuty(row.duty));
    for (int i = 0; i < 4; ++i) {
        b[static_cast<std::size_t>(5 + i)] = static_cast<std::uint8_t>(counts.period >> (8 * i));
        b[static_cast<std::size_t>(9 + i)] = static_cast<std::uint8_t>(counts.highTime >> (8 * i));
    }
    auto pin = [&](int p) { return row.pins[static_cast<std::size_t>(p)] == "1" ? 1 : 0; };
    b[13] = static_cast<std::uint8_t>(pin(kCw - kPs) << 4 | pin(kPs - kPs) << 2 | pin(kEnable - kPs));
    b[14] = static_cast<std::uint8_t>(pin(kMode0 - kPs) << 2 | pin(kMode1 - kPs));
    return b;
}

std::vector<std::uint8_t> patternRecords(const std::vector<RowRecord>& rows)
{
    std::vector<std::uint8_t> out;
    out.reserve(rows.size() * kRecordSize);
    long previous = 0;
    for (const RowRecord& r : rows) {
        const PatternRecord rec = patternRecord(r, previous);
        out.insert(out.end(), rec.begin(), rec.end());
        previous = parseLeadingInt(r.time);
    }
    return out;
}

// ---- host --------------------------------------------------------------------

SequenceHost::SequenceHost(link::CommandPort& port, HostHooks hooks) : port_(port), hooks_(std::move(hooks)) {}

void SequenceHost::start(const StartRecord& record, int window)
{
    auto quiesce = [&] {
        if (hooks_.quiesceTriggers) hooks_.quiesceTriggers();
    };
    const std::optional<std::uint8_t> scope = hooks_.scopeRunValue ? hooks_.scopeRunValue() : std::nullopt;
    running_ = window;

    quiesce();
    if (scope) port_.queueWriteQuiet(reg::kScopeControl, 0, link::WriteClass::Scope);
    port_.queueWriteQuiet(reg::kSeqReset, 1);
    port_.queueWriteQuiet(reg::kSeqReset, 0);
    port_.flushCommands();

    if (hooks_.prepareClock) hooks_.prepareClock();

    const long rows = static_cast<long>(record.rows.size());
    const auto delay = static_cast<std::uint16_t>(parseLong(record.repeatDelay, 0, 0xFFFF));
    const auto last = static_cast<std::uint16_t>(std::max<long>(rows - 1, 0));
    quiesce();
    port_.queueWriteQuiet(reg::kSeqCycles, static_cast<std::uint8_t>(parseLeadingInt(record.cycles) & 0xFF));
    port_.queueWriteQuiet(reg::kSeqDelay, static_cast<std::uint8_t>(delay));
    port_.queueWriteQuiet(reg::kSeqDelay + 1, static_cast<std::uint8_t>(delay >> 8));
    port_.queueWriteQuiet(reg::kSeqLastRow, static_cast<std::uint8_t>(last));
    port_.queueWriteQuiet(reg::kSeqLastRow + 1, static_cast<std::uint8_t>(last >> 8));
    port_.flushCommands();
    port_.pause(kSettle);

    const std::vector<std::uint8_t> bytes = patternRecords(record.rows);
    const std::size_t blockBytes = kRecordsPerBlock * kRecordSize;
    for (std::size_t off = 0; off < bytes.size(); off += blockBytes) {
        const std::size_t n = std::min(blockBytes, bytes.size() - off);
        uploadBlock(static_cast<std::uint16_t>(off / kRecordSize),
                    std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(off),
                                              bytes.begin() + static_cast<std::ptrdiff_t>(off + n)));
    }

    port_.pause(kSettle);
    quiesce();
    if (scope) port_.queueWriteQuiet(reg::kScopeControl, *scope, link::WriteClass::Scope);
    port_.queueWriteQuiet(reg::kSeqControl, seqreg::kRun);
    port_.flushCommands();
}

void SequenceHost::uploadBlock(std::uint16_t firstRow, const std::vector<std::uint8_t>& bytes)
{
    port_.queueBlock(reg::kPatternTarget, firstRow, bytes.data(), bytes.size());
    if (hooks_.waitBlockWritten) hooks_.waitBlockWritten(kWait); // on time-out the upload goes on
    port_.pause(kSettle);
}

void SequenceHost::stop(bool finished)
{
    if (!finished) port_.queueWrite(reg::kSeqControl, seqreg::kStopped);
    port_.queueWrite(reg::kSeqReset, 1);
    port_.waitWriteDone(kWait);
    port_.pause(kSettle);
    port_.queueWrite(reg::kSeqReset, 0);
    port_.waitWriteDone(kWait);
    port_.pause(kSettle);
    port_.queueRead(reg::kSeqRow);
    port_.waitWriteDone(kWait);
    port_.pause(kSettle);
    running_ = -1;
}

void SequenceHost::sendPauseState(int state)
{
    port_.queueWrite(reg::kSeqControl, static_cast<std::uint8_t>(state));
}

void SequenceHost::requestRow()
{
    port_.waitWriteDone(kWait);
    port_.queueRead(reg::kSeqRow);
}

std::optional<std::int16_t> RowIndexAnswers::take(std::uint8_t reg, std::uint8_t value, link::CommandPort& port)
{
    if (reg == reg::kSeqRow) {
        low_ = value;
        port.queueRead(reg::kSeqRowHigh);
        return std::nullopt;
    }
    if (reg != reg::kSeqRowHigh)
        return std::nullopt;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(value * 256 + low_));
}

} // namespace zelbo::drive::sequence
