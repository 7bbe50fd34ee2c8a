// The readers of outside files and what each does with every hostile case.
// A new reader is one more entry in the table at the end.
#include "tests/hostile/hostile_files.h"

#include "files/chip_list.h"
#include "link/bring_up.h"
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
        return r;
    }();
    return table;
}

} // namespace hostile
