#include "usbbridge/firmware.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace usbbridge {

ImageRecordView imageRecord(const std::uint8_t* table, std::size_t index)
{
    const std::uint8_t* r = table + index * kImageRecordSize;
    return ImageRecordView{r[0], static_cast<std::uint16_t>(r[2] | (r[3] << 8)), r[4], r + 5};
}

std::optional<std::uint16_t> imageVersion(const std::uint8_t* table, std::size_t records)
{
    std::uint8_t mark[4] = {};
    unsigned found = 0; // one bit per byte of the mark seen
    for (std::size_t i = 0; i < records; ++i) {
        const ImageRecordView r = imageRecord(table, i);
        if (r.type == 1) break;
        for (unsigned k = 0; k < r.length && k < kImageRecordData; ++k) {
            const unsigned a = r.address + k;
            if (a >= kFirmwareVersionAddress && a < kFirmwareVersionAddress + 4u) {
                mark[a - kFirmwareVersionAddress] = r.data[k];
                found |= 1u << (a - kFirmwareVersionAddress);
            }
        }
    }
    if (found != 0xF || mark[0] != 'Z' || mark[1] != 'V') return std::nullopt;
    return static_cast<std::uint16_t>(mark[2] << 8 | mark[3]);
}

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void appendRecord(std::vector<std::uint8_t>& table, std::uint8_t type, std::uint16_t address,
                  const std::uint8_t* data, std::size_t length)
{
    std::array<std::uint8_t, kImageRecordSize> r{};
    r[0] = static_cast<std::uint8_t>(length);
    r[2] = static_cast<std::uint8_t>(address);
    r[3] = static_cast<std::uint8_t>(address >> 8);
    r[4] = type;
    for (std::size_t i = 0; i < length; ++i) r[5 + i] = data[i];
    table.insert(table.end(), r.begin(), r.end());
}

} // namespace

bool parseIntelHex(std::string_view text, std::vector<std::uint8_t>& table, std::string& error)
{
    table.clear();
    std::size_t pos = 0;
    std::size_t lineNo = 0;
    bool ended = false;
    std::uint32_t base = 0; // from extended address records
    while (pos < text.size()) {
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = text.size();
        std::string_view line = text.substr(pos, eol - pos);
        pos = eol + 1;
        ++lineNo;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        if (line.empty()) continue;
        const std::string where = "line " + std::to_string(lineNo) + ": ";
        if (ended) {
            error = where + "data after the end-of-file record";
            return false;
        }
        if (line[0] != ':' || line.size() < 11 || (line.size() - 1) % 2 != 0) {
            error = where + "not an Intel HEX record";
            return false;
        }
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 1; i + 1 < line.size(); i += 2) {
            const int hi = hexDigit(line[i]);
            const int lo = hexDigit(line[i + 1]);
            if (hi < 0 || lo < 0) {
                error = where + "bad hex digit";
                return false;
            }
            bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
        }
        const std::size_t count = bytes[0];
        if (bytes.size() != count + 5) {
            error = where + "length field does not match the record";
            return false;
        }
        std::uint8_t sum = 0;
        for (std::uint8_t b : bytes) sum = static_cast<std::uint8_t>(sum + b);
        if (sum != 0) {
            error = where + "checksum mismatch";
            return false;
        }
        const std::uint16_t offset = static_cast<std::uint16_t>(bytes[1] << 8 | bytes[2]);
        const std::uint8_t type = bytes[3];
        const std::uint8_t* data = bytes.data() + 4;
        switch (type) {
        case 0: {
            const std::uint32_t start = base + offset;
            if (start + count > 0x10000) {
                error = where + "data beyond the 64 KiB address space";
                return false;
            }
            if (count == 0) appendRecord(table, 0, static_cast<std::uint16_t>(start), data, 0);
            for (std::size_t done = 0; done < count; done += kImageRecordData) {
                const std::size_t n = std::min(kImageRecordData, count - done);
                appendRecord(table, 0, static_cast<std::uint16_t>(start + done), data + done, n);
            }
            break;
        }
        case 1:
            ended = true;
            break;
        case 2:
        case 4:
            if (count != 2) {
                error = where + "bad extended address record";
                return false;
            }
            base = static_cast<std::uint32_t>(data[0] << 8 | data[1]) << (type == 2 ? 4 : 16);
            if (base >= 0x10000) {
                error = where + "data beyond the 64 KiB address space";
                return false;
            }
            break;
        case 3:
        case 5:
            break; // start address: the FX2 always starts at 0
        default:
            error = where + "unknown record type";
            return false;
        }
    }
    if (!ended) {
        error = "no end-of-file record";
        return false;
    }
    appendRecord(table, 1, 0, nullptr, 0);
    return true;
}

bool readRegularFile(const std::string& path, std::string& out, std::size_t maxBytes, std::string& error)
{
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) {
        error = "cannot open it (no such file)";
        return false;
    }
    if (!std::filesystem::is_regular_file(status)) {
        error = std::filesystem::is_directory(status) ? "it is a folder" : "it is not a regular file";
        return false;
    }
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        error = std::string("cannot open it: ") + std::strerror(errno);
        return false;
    }
    const std::streamoff size = in.tellg();
    if (size < 0) {
        error = "cannot read it";
        return false;
    }
    if (static_cast<std::uint64_t>(size) > maxBytes) {
        error = "it is far too large (" + std::to_string(size) + " bytes)";
        return false;
    }
    out.resize(static_cast<std::size_t>(size));
    in.seekg(0);
    in.read(out.data(), size);
    if (in.gcount() != size) {
        error = "cannot read it (cut short while read)";
        return false;
    }
    return true;
}

bool loadFirmwareFile(const std::string& path, std::vector<std::uint8_t>& table, std::string& error)
{
    std::string text;
    if (!readRegularFile(path, text, std::size_t{1} << 22, error)) return false;
    return parseIntelHex(text, table, error);
}

bool readWholeFile(const std::string& path, std::string& out, std::size_t maxBytes)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<std::uint64_t>(size) > maxBytes) return false;
    out.resize(static_cast<std::size_t>(size));
    in.seekg(0);
    in.read(out.data(), size);
    return in.gcount() == size;
}

} // namespace usbbridge
