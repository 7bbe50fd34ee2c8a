// The readers of outside files and what each does with every hostile case.
// A new reader is one more entry in the table at the end.
#include "tests/hostile/hostile_files.h"

#include "drive/drive_core.h"
#include "drive/sequence_csv.h"
#include "files/chip_list.h"
#include "files/settings_core.h"
#include "link/bring_up.h"
#include "scope/calibration_file.h"
#include "scope/scope_core.h"
#include "tests/drive/fake_port.h"
#include "thermal/step_list.h"
#include "tests/common/recording_message_service.h"
#include "usbbridge/bridge.h"
#include "usbbridge/firmware.h"

#include <sstream>

namespace hostile {

namespace {

std::string quoted(const std::string& s)
{
    const auto nl = s.find('\n');
    return "\"" + (nl == std::string::npos ? s : s.substr(0, nl)) + "\"";
}

// The chip list over a list loaded from the good sample: what the user sees
// and whether the previous list survived a refusal.
std::string readChipList(const std::filesystem::path& path)
{
    zelbo::RecordingMessageService messages;
    zelbo::files::ChipList list;
    std::istringstream good(sourceFile("resources/TQ5170x.chip"));
    list.read(good, messages);
    const std::size_t before = list.size();
    const int r = list.load(path, messages);
    std::string out;
    for (const auto& m : messages.shown()) out += "message " + quoted(m.text) + "; ";
    if (r != 0)
        return out + (list.size() == before ? "previous list kept" : "previous list LOST");
    return out + std::to_string(list.size()) + " chip(s) read";
}

std::string readFirmware(const std::filesystem::path& path)
{
    std::vector<std::uint8_t> table;
    std::string error;
    if (!usbbridge::loadFirmwareFile(path.string(), table, error)) return "refused: " + error;
    return std::to_string(table.size() / usbbridge::kImageRecordSize) + " record(s) read";
}

std::string readScript(const std::filesystem::path& path)
{
    std::vector<std::uint8_t> file;
    std::vector<usbbridge::ScriptRecord> records;
    std::uint8_t cfg = 0, alt = 0;
    std::string error;
    if (!usbbridge::loadScriptFile(path.string(), file, records, cfg, alt, error)) return "refused: " + error;
    return std::to_string(records.size()) + " record(s) read";
}

std::string readImage(const std::filesystem::path& path)
{
    std::vector<std::uint8_t> image;
    if (!zelbo::link::readImageFile(path.string(), image)) return "refused (\"ERROR: RBF File Error\")";
    return std::to_string(image.size()) + " byte(s) read";
}

// The settings file opened over the first-run set-up, the board not ready
// (stage 1 only): the message the window shows, or how far the load got.
std::string readSettings(const std::filesystem::path& path)
{
    zelbo::drive::test::FakePort port;
    zelbo::RecordingMessageService messages;
    zelbo::drive::DriveCore drive{port, messages};
    zelbo::scope::ScopeCore scope{port};
    drive.reset();
    scope.applyDefaults();
    zelbo::files::SettingsHooks hooks;
    hooks.boardReady = [] { return false; };
    zelbo::files::SettingsCore core{drive, scope, port, hooks};
    const std::string before = zelbo::files::formatSettings(core.collect());
    const zelbo::files::SettingsLoadResult r = core.load(path);
    const std::string after = zelbo::files::formatSettings(core.collect());
    std::string out;
    for (const auto& m : messages.shown()) out += "message " + quoted(m.text) + "; ";
    if (!r.opened)
        return out + "message " + quoted(zelbo::files::kSettingsOpenFailed) + "; " +
               (after == before ? "set-up kept" : "set-up CHANGED");
    if (r.missingLine != 0)
        return out + "status " + quoted(zelbo::files::SettingsCore::incompleteText(r)) +
               (after == before ? "; set-up unchanged" : "; what came before applied");
    return out + "all " + std::to_string(r.valueLines) + " value lines applied";
}

std::string calibrationSample()
{
    zelbo::scope::CalibrationOffsets o;
    o.voltage = {0.0704501, -0.1409, 0.07, -0.07};
    o.current = {0.012, -0.024, 0.024, -0.048};
    o.icc = {-0.024, 0.036, -0.036, 0.024};
    return zelbo::scope::formatCalibration(o);
}

// The offsets read at start-up over offsets already in use: how many of the
// twelve the file set (an unreadable file keeps them all, without a message).
std::string readCalibration(const std::filesystem::path& path)
{
    zelbo::scope::CalibrationOffsets o;
    for (auto* line : {&o.voltage, &o.current, &o.icc}) line->fill(0.5);
    const zelbo::scope::CalibrationOffsets before = o;
    if (!zelbo::scope::readCalibrationFile(path, o)) return "not read; offsets kept";
    int set = 0;
    for (std::size_t ch = 0; ch < o.voltage.size(); ++ch)
        set += (o.voltage[ch] != before.voltage[ch]) + (o.current[ch] != before.current[ch]) +
               (o.icc[ch] != before.icc[ch]);
    return std::to_string(set) + " of 12 offsets read";
}

std::string sequenceSample()
{
    zelbo::drive::sequence::SequenceTable t;
    const char* rows[][9] = {{"0", "1.00", "1.00", "1000", "HI", "HI", "LO", "LO", "HI"},
                             {"100", "1.50", "0.75", "2.5k", "HI", "HI", "HI", "LO", "HI"},
                             {"200", "0.50", "0.50", "500", "HI", "HI", "LO", "HI", "LO"},
                             {"300", "2.00", "1.00", "10k", "HI", "HI", "HI", "HI", "LO"}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 9; ++c) t.setCell(r, c, rows[r][c]);
    return zelbo::drive::sequence::saveCsv(t);
}

// The Dynamic Settings window's Open over a table holding one row.
std::string readSequence(const std::filesystem::path& path)
{
    using namespace zelbo::drive::sequence;
    SequenceTable t;
    for (int c = 0; c < 9; ++c) t.setCell(0, c, c == 0 ? "0" : c < 4 ? "1" : "HI");
    const std::string before = saveCsv(t);
    const CsvFileLoad r = loadCsvFile(path, t);
    if (!r.opened)
        return std::string("message \"Unable to open .csv file\"; ") +
               (saveCsv(t) == before ? "table kept" : "table CHANGED");
    const std::string warned = r.incomplete ? std::string("message \"") + kCsvIncomplete + "\"; " : std::string();
    if (r.kept) return warned + (saveCsv(t) == before ? "table kept" : "table CHANGED");
    return warned + std::to_string(r.rows) + " row(s) read";
}

std::string stepListSample()
{
    std::vector<zelbo::thermal::StepRow> rows;
    for (const char* v : {"0.50", "1.00", "1.50", "2.00", "2.50"}) rows.push_back({v, "1.00", "HI", "LO", "HI"});
    return zelbo::thermal::formatStepList(rows);
}

// The temperature monitor's File > Open (the grid is refilled only when the
// file could be read).
std::string readStepList(const std::filesystem::path& path)
{
    zelbo::thermal::StepListRead r;
    if (!zelbo::thermal::readStepListFile(path, r)) return "message \"Unable to open .csv file\"; grid kept";
    const std::string warned = r.incomplete ? std::string("message \"Incomplete CSV Settings\"; ") : std::string();
    // The window refills the grid only when a line was a row or none was wrong.
    if (r.rows.empty() && r.incomplete) return warned + "grid kept";
    return warned + std::to_string(r.rows.size()) + " row(s) read";
}

} // namespace

const std::vector<Reader>& readers()
{
    static const std::vector<Reader> table = [] {
        const std::string open = "message \"Unable to open chip file list.\"; previous list kept";
        std::vector<Reader> r;
        // Text lines that are not records end the list quietly; the program
        // then offers the built-in chip.
        r.push_back({".chip (chip list)", "TQ5170x.chip", sourceFile("resources/TQ5170x.chip"), readChipList,
                     {
                         {Case::Empty, "0 chip(s) read"},
                         {Case::Folder, open},
                         {Case::NoPermission, open},
                         {Case::Garbage, "0 chip(s) read"},
                         {Case::Huge, "0 chip(s) read"},
                         {Case::Utf8Bom, "3 chip(s) read"}, // the BOM sits in the skipped header
                         {Case::Utf16, "message \"Invalid value for \"B\".\"; 0 chip(s) read"},
                         {Case::CrOnly, "0 chip(s) read"}, // one long header line
                         {Case::LongLine, "4 chip(s) read"}, // one of them with a 1 MB name
                         {Case::NulBytes, "0 chip(s) read"},
                         {Case::Vanished, open},
                     }});
        r.push_back({"fx2fw.hex (firmware)", "fx2fw.hex", sourceFile("usbbridge/firmware/fx2fw.hex"), readFirmware,
                     {
                         {Case::Empty, "refused: no end-of-file record"},
                         {Case::Folder, "refused: it is a folder"},
                         {Case::NoPermission, "refused: cannot open it: Permission denied"},
                         {Case::Garbage, "refused: line 1: not an Intel HEX record"},
                         {Case::Huge, "refused: it is far too large (100000000 bytes)"},
                         {Case::Utf8Bom, "refused: line 1: not an Intel HEX record"},
                         {Case::Utf16, "refused: line 1: not an Intel HEX record"},
                         {Case::CrOnly, "refused: line 1: bad hex digit"},
                         {Case::LongLine, "refused: line 2: not an Intel HEX record"},
                         {Case::NulBytes, "refused: line 1: bad hex digit"},
                         {Case::Vanished, "refused: cannot open it (no such file)"},
                     }});
        // Binary: the record walk decides; text-level variants may still walk.
        r.push_back({"CYUSB.spt (bridge script)", "CYUSB.spt", sourceFile("fuzz/usbbridge/corpus/script/load"),
                     readScript,
                     {
                         {Case::Empty, "refused: shorter than one record header (0 bytes)"},
                         {Case::Folder, "refused: it is a folder"},
                         {Case::NoPermission, "refused: cannot open it: Permission denied"},
                         {Case::Garbage, "refused: record at offset 0 is for endpoint 15; only endpoint 0 can be replayed"},
                         {Case::Huge, "refused: it is far too large (100000000 bytes)"},
                         {Case::Utf8Bom, "refused: data of the record at offset 0 runs past the end of the file"},
                         {Case::Utf16, "refused: data of the record at offset 226 runs past the end of the file"},
                         {Case::CrOnly, "4 record(s) read"},
                         {Case::LongLine,
                          "refused: record at offset 132 is for endpoint 65; only endpoint 0 can be replayed"},
                         {Case::NulBytes, "4 record(s) read"},
                         {Case::Vanished, "refused: cannot open it (no such file)"},
                     }});
        // Opaque bytes: the FPGA judges them (a bad image fails configuration
        // with "FPGA Reset failed!").
        const std::string rbfError = "refused (\"ERROR: RBF File Error\")";
        r.push_back({"Zelbo3.rbf (FPGA image)", "Zelbo3.rbf", sourceFile("resources/Zelbo3.rbf"), readImage,
                     {
                         {Case::Empty, "0 byte(s) read"},
                         {Case::Folder, rbfError},
                         {Case::NoPermission, rbfError},
                         {Case::Garbage, "4096 byte(s) read"},
                         {Case::Huge, rbfError},
                         {Case::Utf8Bom, "49155 byte(s) read"},
                         {Case::Utf16, "98306 byte(s) read"},
                         {Case::CrOnly, "49151 byte(s) read"},
                         {Case::LongLine, "1097743 byte(s) read"},
                         {Case::NulBytes, "49152 byte(s) read"},
                         {Case::Vanished, rbfError},
                     }});
        // Refused files leave the set-up alone; text without a header line
        // gives no value line, noted in the status bar. The BOM, the 1 MB
        // line and the NUL bytes land in the header or in comments.
        const std::string setOpen = "message \"Failed to open .set file\"; set-up kept";
        const std::string noValues =
            "status \"Settings file ends after 0 value lines; line 1 and those after it are missing.\"; set-up unchanged";
        r.push_back({".set (settings)", "TQ5170x.set", zelbo::files::formatSettings(zelbo::files::defaultSettings()),
                     readSettings,
                     {
                         {Case::Empty, noValues},
                         {Case::Folder, setOpen},
                         {Case::NoPermission, setOpen},
                         {Case::Garbage, noValues},
                         {Case::Huge, setOpen},
                         {Case::Utf8Bom, "all 34 value lines applied"},
                         {Case::Utf16, noValues},
                         {Case::CrOnly, "all 34 value lines applied"},
                         {Case::LongLine, "all 34 value lines applied"},
                         {Case::NulBytes, "all 34 value lines applied"},
                         {Case::Vanished, setOpen},
                     }});
        // Read silently at start-up; a field that is not wholly a number keeps
        // its offset.
        const std::string calKept = "not read; offsets kept";
        r.push_back({"init.clb (calibration)", "init.clb", calibrationSample(), readCalibration,
                     {
                         {Case::Empty, "0 of 12 offsets read"},
                         {Case::Folder, calKept},
                         {Case::NoPermission, calKept},
                         {Case::Garbage, "0 of 12 offsets read"},
                         {Case::Huge, "0 of 12 offsets read"},
                         {Case::Utf8Bom, "11 of 12 offsets read"},
                         {Case::Utf16, "0 of 12 offsets read"},
                         {Case::CrOnly, "12 of 12 offsets read"},
                         {Case::LongLine, "4 of 12 offsets read"},
                         {Case::NulBytes, "9 of 12 offsets read"},
                         {Case::Vanished, calKept},
                     }});
        // Both CSV readers keep what the window holds when no line of the
        // file was a row, with the warning; a partial read keeps its rows.
        const std::string csvOpen = "message \"Unable to open .csv file\"; table kept";
        r.push_back({"sequence .csv (dynamic mode)", "sequence.csv", sequenceSample(), readSequence,
                     {
                         {Case::Empty, "0 row(s) read"},
                         {Case::Folder, csvOpen},
                         {Case::NoPermission, csvOpen},
                         {Case::Garbage, "message \"Incomplete CSV Settings\"; table kept"},
                         {Case::Huge, "message \"Incomplete CSV Settings\"; table kept"},
                         {Case::Utf8Bom, "4 row(s) read"},
                         {Case::Utf16, "message \"Incomplete CSV Settings\"; table kept"},
                         {Case::CrOnly, "4 row(s) read"},
                         {Case::LongLine, "message \"Incomplete CSV Settings\"; table kept"},
                         {Case::NulBytes, "4 row(s) read"},
                         {Case::Vanished, csvOpen},
                     }});
        const std::string stepOpen = "message \"Unable to open .csv file\"; grid kept";
        r.push_back({"step list .csv (temperature monitor)", "steps.csv", stepListSample(), readStepList,
                     {
                         {Case::Empty, "0 row(s) read"},
                         {Case::Folder, stepOpen},
                         {Case::NoPermission, stepOpen},
                         {Case::Garbage, "message \"Incomplete CSV Settings\"; grid kept"},
                         {Case::Huge, "message \"Incomplete CSV Settings\"; grid kept"},
                         {Case::Utf8Bom, "5 row(s) read"},
                         {Case::Utf16, "message \"Incomplete CSV Settings\"; grid kept"},
                         {Case::CrOnly, "5 row(s) read"},
                         {Case::LongLine, "message \"Incomplete CSV Settings\"; 1 row(s) read"},
                         {Case::NulBytes, "5 row(s) read"},
                         {Case::Vanished, stepOpen},
                     }});
        return r;
    }();
    return table;
}

} // namespace hostile
