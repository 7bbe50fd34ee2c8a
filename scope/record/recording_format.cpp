#include "scope/record/recording_format.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

#include <nlohmann/json.hpp>

namespace zelbo::scope::recording {

namespace {

static_assert(std::endian::native == std::endian::little, "the layout is written as the machine holds it");

template <typename T>
void put(std::uint8_t*& p, T v)
{
    std::memcpy(p, &v, sizeof v);
    p += sizeof v;
}

template <typename T>
T get(const std::uint8_t* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

} // namespace

int channelCount(std::uint8_t mask)
{
    return std::popcount(static_cast<unsigned>(mask & 0x0F));
}

std::size_t recordBytes(std::uint8_t mask, std::size_t samples)
{
    const auto c = static_cast<std::size_t>(channelCount(mask));
    return kRecordHead + c * 24 + c * samples * 2;
}

std::vector<std::uint8_t> encodeHeader(const HeaderInfo& info)
{
    const std::uint8_t mask = info.mask & 0x0F;
    std::string json = "{\"format\":\"zelbo-scope-recording\",\"version\":1,";
    json += "\"samplesPerSweep\":" + std::to_string(kSamplesPerSweep) + ",";
    json += "\"recordBytes\":" + std::to_string(recordBytes(mask)) + ",";
    json += "\"timeBase\":" + jsonString(info.timeBase) + ",";
    json += "\"samplingRate\":" + jsonString(info.samplingRate) + ",";
    json += "\"started\":" + jsonString(info.started) + ",";
    json += "\"value\":\"code * (code < 0 ? neg : pos) + add\",\"channels\":[";
    bool firstChannel = true;
    for (std::size_t n = 0; n < kChannels; ++n) {
        if (!(mask & (1u << n))) continue;
        const ChannelInfo& c = info.channels[n];
        if (!firstChannel) json += ",";
        firstChannel = false;
        json += "{\"key\":" + jsonString(c.key) + ",\"label\":" + jsonString(c.label) + ",\"unit\":" +
                jsonString(c.unit) + ",\"source\":" + jsonString(c.source) + "}";
    }
    json += "]";
    if (!info.math.empty()) {
        json += ",\"math\":[";
        for (std::size_t m = 0; m < info.math.size() && m < kMaxMathInfo; ++m) {
            const MathInfo& c = info.math[m];
            json += std::string(m ? "," : "") + "{\"key\":" + jsonString(c.key) + ",\"label\":" +
                    jsonString(c.label) + ",\"unit\":" + jsonString(c.unit) + ",\"expression\":" +
                    jsonString(c.expression) + "}";
        }
        json += "]";
    }
    json += "}\n";
    while (json.size() % 8) json.insert(json.size() - 1, " ");

    std::vector<std::uint8_t> out(kPreambleBytes + json.size());
    std::uint8_t* p = out.data();
    std::memcpy(p, kMagic, sizeof kMagic);
    p += sizeof kMagic;
    put<std::uint32_t>(p, kVersion);
    put<std::uint32_t>(p, mask);
    put<std::uint32_t>(p, static_cast<std::uint32_t>(kSamplesPerSweep));
    put<std::uint32_t>(p, static_cast<std::uint32_t>(recordBytes(mask)));
    put<std::uint32_t>(p, static_cast<std::uint32_t>(json.size()));
    std::memcpy(p, json.data(), json.size());
    return out;
}

void encodeRecord(const SweepFrame& frame, std::uint8_t mask, std::span<std::uint8_t> out)
{
    std::uint8_t* p = out.data();
    const std::uint8_t present = frame.channels & mask;
    put<std::uint64_t>(p, frame.index);
    put<double>(p, frame.periodUs);
    put<std::uint32_t>(p, present);
    put<std::uint32_t>(p, 0);
    for (std::size_t n = 0; n < kChannels; ++n) {
        if (!(mask & (1u << n))) continue;
        const bool here = present & (1u << n);
        const ChannelScale s = here ? frame.scales[n] : ChannelScale{};
        put<double>(p, s.pos);
        put<double>(p, s.neg);
        put<double>(p, s.add);
    }
    for (std::size_t n = 0; n < kChannels; ++n) {
        if (!(mask & (1u << n))) continue;
        const std::span<const std::uint8_t> raw = frame.raw[n];
        if (!(present & (1u << n)) || raw.size() < 2 * kSamplesPerSweep) {
            std::memset(p, 0, 2 * kSamplesPerSweep);
            p += 2 * kSamplesPerSweep;
            continue;
        }
        for (std::size_t i = 0; i < kSamplesPerSweep; ++i)
            put<std::int16_t>(p, static_cast<std::int16_t>(decodeSample(raw[2 * i], raw[2 * i + 1])));
    }
}

std::optional<Header> parseHeader(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < kPreambleBytes || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
        return std::nullopt;
    const std::uint8_t* p = bytes.data() + sizeof kMagic;
    const auto version = get<std::uint32_t>(p);
    const auto mask = get<std::uint32_t>(p + 4);
    const auto samples = get<std::uint32_t>(p + 8);
    const auto record = get<std::uint32_t>(p + 12);
    const auto jsonBytes = get<std::uint32_t>(p + 16);
    if (version != kVersion || mask == 0 || mask > 0x0F || samples == 0 || samples > (1u << 20))
        return std::nullopt;
    if (record != recordBytes(static_cast<std::uint8_t>(mask), samples))
        return std::nullopt;
    if (jsonBytes > bytes.size() - kPreambleBytes)
        return std::nullopt;
    Header h;
    h.mask = static_cast<std::uint8_t>(mask);
    h.samples = samples;
    h.recordBytes = record;
    h.dataOffset = kPreambleBytes + jsonBytes;
    h.json.assign(reinterpret_cast<const char*>(bytes.data() + kPreambleBytes), jsonBytes);
    return h;
}

HeaderInfo headerInfo(const Header& header)
{
    HeaderInfo info;
    info.mask = header.mask;
    for (int n = 0; n < static_cast<int>(kChannels); ++n) info.channels[static_cast<std::size_t>(n)].key = channelKey(n);
    const nlohmann::json j = nlohmann::json::parse(header.json, nullptr, false);
    if (!j.is_object()) return info;
    auto text = [](const nlohmann::json& o, const char* name, std::string& into) {
        const auto it = o.find(name);
        if (it != o.end() && it->is_string()) into = it->get<std::string>();
    };
    text(j, "timeBase", info.timeBase);
    text(j, "samplingRate", info.samplingRate);
    text(j, "started", info.started);
    if (const auto math = j.find("math"); math != j.end() && math->is_array()) {
        for (const nlohmann::json& c : *math) {
            if (info.math.size() >= kMaxMathInfo) break;
            if (!c.is_object()) continue;
            MathInfo m;
            text(c, "key", m.key);
            text(c, "label", m.label);
            text(c, "unit", m.unit);
            text(c, "expression", m.expression);
            if (!m.expression.empty()) info.math.push_back(std::move(m));
        }
    }
    // The channels are listed in channel order, one per bit of the mask.
    const auto list = j.find("channels");
    if (list == j.end() || !list->is_array()) return info;
    std::size_t at = 0;
    for (std::size_t n = 0; n < kChannels && at < list->size(); ++n) {
        if (!(header.mask & (1u << n))) continue;
        const nlohmann::json& c = (*list)[at++];
        if (!c.is_object()) continue;
        ChannelInfo& ch = info.channels[n];
        text(c, "label", ch.label);
        text(c, "unit", ch.unit);
        text(c, "source", ch.source);
    }
    return info;
}

std::optional<Sweep> decodeRecord(const Header& header, std::span<const std::uint8_t> record)
{
    if (record.size() != header.recordBytes || header.recordBytes != recordBytes(header.mask, header.samples))
        return std::nullopt;
    const std::uint8_t* p = record.data();
    Sweep s;
    s.index = get<std::uint64_t>(p);
    s.periodUs = get<double>(p + 8);
    s.present = static_cast<std::uint8_t>(get<std::uint32_t>(p + 16));
    if ((s.present & ~header.mask) != 0)
        return std::nullopt;
    const std::uint8_t* scales = p + kRecordHead;
    const std::uint8_t* codes = scales + 24 * static_cast<std::size_t>(channelCount(header.mask));
    for (std::size_t n = 0; n < kChannels; ++n) {
        if (!(header.mask & (1u << n))) continue;
        const double pos = get<double>(scales), neg = get<double>(scales + 8), add = get<double>(scales + 16);
        scales += 24;
        if (s.present & (1u << n)) {
            auto& v = s.values[n];
            v.resize(header.samples);
            for (std::size_t i = 0; i < header.samples; ++i) {
                const int c = get<std::int16_t>(codes + 2 * i);
                v[i] = c * (c < 0 ? neg : pos) + add;
            }
        }
        codes += 2 * header.samples;
    }
    return s;
}

bool readFile(const std::string& path, Header& header, const std::function<bool(const Sweep&)>& visit,
              std::string* error, std::uint64_t first)
{
    auto fail = [&](const char* why) {
        if (error) *error = why;
        return false;
    };
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail("cannot open the file");
    std::vector<std::uint8_t> head(64 * 1024);
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    auto h = parseHeader(head);
    if (!h) return fail("not a recording");
    header = *h;
    in.clear();
    // Past the end (or past what an offset can say) there is nothing to visit.
    constexpr std::uint64_t kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<std::streamoff>::max());
    if (first > (kMaxOffset - h->dataOffset) / h->recordBytes) return true;
    in.seekg(static_cast<std::streamoff>(h->dataOffset + first * h->recordBytes));
    std::vector<std::uint8_t> rec(h->recordBytes);
    while (in.read(reinterpret_cast<char*>(rec.data()), static_cast<std::streamsize>(rec.size()))) {
        auto s = decodeRecord(*h, rec);
        if (!s) return fail("a damaged record");
        if (!visit(*s)) break;
    }
    return true;
}

} // namespace zelbo::scope::recording
