#include "scope/record/recording_csv.h"

#include <cstdio>
#include <memory>

#include "common/atomic_file.h"
#include "scope/record/recording_format.h"

namespace zelbo::scope::recording {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const
    {
        if (f) std::fclose(f);
    }
};

} // namespace

CsvResult convertToCsv(const std::filesystem::path& recording, const std::filesystem::path& csv)
{
    CsvResult r;
    auto fail = [&](const std::string& why) {
        r.ok = false;
        r.error = why;
        return r;
    };
    const std::string source = recording.string(), target = csv.string();
    std::string error;
    const std::filesystem::path tmp = files::createTemporaryBeside(csv, &error);
    if (tmp.empty()) return fail("Cannot write \"" + target + "\": " + error + ".");
    std::unique_ptr<std::FILE, FileCloser> out(std::fopen(tmp.c_str(), "wb"));
    if (!out) {
        std::error_code ec;
        std::filesystem::remove(tmp, ec);
        return fail("Cannot write \"" + target + "\".");
    }
    bool wroteHead = false, writeFailed = false;
    Header header;
    std::string line;
    char buf[40];
    auto writeHead = [&] {
        const HeaderInfo info = headerInfo(header);
        line = "sweep,t [s]";
        for (std::size_t n = 0; n < info.channels.size(); ++n) {
            if (!(header.mask & (1u << n))) continue;
            const ChannelInfo& c = info.channels[n];
            std::string title = c.key + (c.label.empty() ? "" : " " + c.label);
            if (!c.unit.empty()) title += " [" + c.unit + "]";
            // A title holding the separator or a quote is quoted.
            if (title.find_first_of(",\"\r\n") != std::string::npos) {
                std::string q = "\"";
                for (char ch : title) q += ch == '"' ? std::string("\"\"") : std::string(1, ch);
                title = q + "\"";
            }
            line += "," + title;
        }
        line += '\n';
        writeFailed = std::fwrite(line.data(), 1, line.size(), out.get()) != line.size();
        wroteHead = true;
    };
    const bool read = readFile(
        source, header,
        [&](const Sweep& s) {
            if (!wroteHead) writeHead();
            const double periodS = s.periodUs * 1e-6;
            for (std::size_t i = 0; i < header.samples && !writeFailed; ++i) {
                std::snprintf(buf, sizeof buf, "%llu,%.9g", static_cast<unsigned long long>(s.index),
                              static_cast<double>(i) * periodS);
                line = buf;
                for (std::size_t n = 0; n < kChannels; ++n) {
                    if (!(header.mask & (1u << n))) continue;
                    line += ',';
                    if (s.values[n].size() == header.samples) {
                        std::snprintf(buf, sizeof buf, "%.6g", s.values[n][i]);
                        line += buf;
                    }
                }
                line += '\n';
                writeFailed = std::fwrite(line.data(), 1, line.size(), out.get()) != line.size();
            }
            ++r.sweeps;
            return !writeFailed;
        },
        &error);
    // A recording without a whole sweep: the column titles alone.
    if (read && !wroteHead && !writeFailed) writeHead();
    const bool closed = std::fclose(out.release()) == 0;
    if (!read || writeFailed || !closed) {
        std::error_code ec;
        std::filesystem::remove(tmp, ec);
        if (!read) return fail("\"" + source + "\" cannot be read: " + error + ".");
        return fail("Cannot write \"" + target + "\" (is the disk full?).");
    }
    if (!files::replaceWithTemporary(tmp, csv, &error)) return fail("Cannot write \"" + target + "\": " + error + ".");
    r.ok = true;
    return r;
}

} // namespace zelbo::scope::recording
