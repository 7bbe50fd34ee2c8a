#pragma once
// The recording file: a short binary preamble, a JSON text for people and
// other programs, then one fixed-size record per sweep, all little-endian.
//
//   file    = "ZLBOREC1" (8 bytes)
//             u32 version (1)  u32 channel mask  u32 samples per sweep
//             u32 record bytes  u32 JSON bytes (a multiple of 8)
//             JSON text, padded with spaces
//             record*
//   record  = u64 sweep index  f64 sample period in us
//             u32 mask of the channels converted in this sweep  u32 0
//             per recorded channel, in channel order: f64 pos, f64 neg, f64 add
//             per recorded channel, in channel order: i16 code * samples
//
// A value is code * (code < 0 ? neg : pos) + add; a channel missing from a
// record's mask has codes and factors 0. A record cut short (the program
// ended mid-write) is not part of the recording.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/json_text.h"
#include "scope/sweep_observer.h"

namespace zelbo::scope::recording {

inline constexpr char kMagic[8] = {'Z', 'L', 'B', 'O', 'R', 'E', 'C', '1'};
inline constexpr std::uint32_t kVersion = 1;
inline constexpr std::size_t kPreambleBytes = 28;
inline constexpr std::size_t kRecordHead = 24;

int channelCount(std::uint8_t mask);
std::size_t recordBytes(std::uint8_t mask, std::size_t samples = kSamplesPerSweep);

struct ChannelInfo {
    std::string key, label, unit, source;
};

// A math channel shown while recording. Its values are not in the records
// (they are no code times a factor); the expression over the recorded
// channels lets a reader compute them again.
struct MathInfo {
    std::string key, label, unit, expression;
};

struct HeaderInfo {
    std::uint8_t mask = 0;
    std::array<ChannelInfo, kChannels> channels{};
    std::string timeBase, samplingRate, started;
    std::vector<MathInfo> math; // at most kMaxMathInfo are written or read
};
inline constexpr std::size_t kMaxMathInfo = 8;

// The preamble and JSON text of a new recording.
std::vector<std::uint8_t> encodeHeader(const HeaderInfo& info);
// One sweep as a record into `out` (recordBytes(mask) long).
void encodeRecord(const SweepFrame& frame, std::uint8_t mask, std::span<std::uint8_t> out);

struct Header {
    std::uint8_t mask = 0;
    std::size_t samples = 0;
    std::size_t recordBytes = 0;
    std::size_t dataOffset = 0; // where the first record starts
    std::string json;
};
// The header at the start of `bytes`; nothing when it is not one of ours or
// its sizes do not agree with each other.
std::optional<Header> parseHeader(std::span<const std::uint8_t> bytes);

// The channels, time base, sampling rate and start time a header's JSON text
// names (the mask is the preamble's). Whatever the text holds, each field
// falls back to what a reader can still use: the key "CHn", no label, no
// unit, no source.
HeaderInfo headerInfo(const Header& header);

struct Sweep {
    std::uint64_t index = 0;
    double periodUs = 0.0;
    std::uint8_t present = 0;
    // Values per channel (empty for a channel not recorded or not present).
    std::array<std::vector<double>, kChannels> values;
};
// One record (exactly header.recordBytes long); nothing when it is malformed.
std::optional<Sweep> decodeRecord(const Header& header, std::span<const std::uint8_t> record);

// Reads a recording file sweep by sweep (hours do not fit in memory),
// from the record `first` on (records are fixed-size: the reader seeks);
// `visit` returns false to stop early. Bytes past the last whole record are
// ignored. False with `error` set when the file is not a readable recording.
bool readFile(const std::string& path, Header& header, const std::function<bool(const Sweep&)>& visit,
              std::string* error = nullptr, std::uint64_t first = 0);

using zelbo::jsonString; // (common/json_text.h)

} // namespace zelbo::scope::recording
