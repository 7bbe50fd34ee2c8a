#pragma once
// The FX2 firmware image: a table of 22-byte records, ended by the first
// record of type 1, and the Intel HEX reader that makes such a table (at build
// time from the firmware kept in the repository, at run time from a
// "fx2fw.hex" beside the library).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace usbbridge {

constexpr std::size_t kImageRecordSize = 22;
constexpr std::size_t kImageRecordData = 16;

// One record: [0] data length 0..16, [1] 0, [2..3] load address LE, [4] type
// (0 data, 1 end), [5..20] data, [21] 0.
struct ImageRecordView {
    std::uint8_t length;
    std::uint16_t address;
    std::uint8_t type;
    const std::uint8_t* data;
};
ImageRecordView imageRecord(const std::uint8_t* table, std::size_t index);

// The board firmware's version: request 0xBC answers major and minor, and
// the image keeps the same as "ZV", major, minor at kFirmwareVersionAddress.
constexpr std::uint8_t kFirmwareVersionRequest = 0xBC;
constexpr std::uint16_t kFirmwareVersionAddress = 0x1110;
// major << 8 | minor of the image in `table`, or none when it carries no
// version mark (a firmware of the owner's that predates it).
std::optional<std::uint16_t> imageVersion(const std::uint8_t* table, std::size_t records);

// The table built into the library.
const std::uint8_t* builtinImage();
std::size_t builtinImageRecords(); // including the end record

// Reads Intel HEX text into a record table (data records of at most 16
// bytes, in file order, then the end record). Returns false with a reason on
// malformed input: bad characters or checksums, records past 64 KiB, a missing
// end-of-file record, anything after it but blank lines.
bool parseIntelHex(std::string_view text, std::vector<std::uint8_t>& table, std::string& error);

// Reads a whole file of at most maxBytes; false when it cannot be opened or read.
bool readWholeFile(const std::string& path, std::string& out, std::size_t maxBytes);
// The same for a regular file only, with the reason on failure (missing, a
// folder or other non-file, unreadable, larger than maxBytes, cut short).
bool readRegularFile(const std::string& path, std::string& out, std::size_t maxBytes, std::string& error);

// A firmware file of the owner's ("fx2fw.hex"): read (at most 4 MiB) and
// parsed into a record table, or false with a reason.
bool loadFirmwareFile(const std::string& path, std::vector<std::uint8_t>& table, std::string& error);

} // namespace usbbridge
