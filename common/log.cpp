#include "common/log.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace zelbo::log {

namespace {

constexpr int kUnread = -1;
std::atomic<int> g_level{kUnread};
std::atomic<bool> g_chosen{false};

std::mutex& sinkMutex()
{
    static std::mutex m;
    return m;
}

Sink& sink()
{
    static Sink s;
    return s;
}

void emit(Level l, std::string_view text)
{
    std::lock_guard lock(sinkMutex());
    if (sink()) {
        sink()(l, text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

// Reads the variable; returns the text of a value that names no level.
std::string readEnvironment()
{
    const char* v = std::getenv(kVariable);
    if (v == nullptr || *v == '\0') {
        g_chosen.store(false);
        g_level.store(static_cast<int>(kDefaultLevel));
        return {};
    }
    if (const auto parsed = parseLevel(v)) {
        g_chosen.store(true);
        g_level.store(static_cast<int>(*parsed));
        return {};
    }
    g_chosen.store(false);
    g_level.store(static_cast<int>(kDefaultLevel));
    return v;
}

void readEnvironmentAndReport()
{
    const std::string bad = readEnvironment();
    if (!bad.empty())
        emit(Level::Warning, std::string(kVariable) + "=\"" + bad +
                                 "\" names no log level (error, warning, info, debug): warning used");
}

} // namespace

std::optional<Level> parseLevel(std::string_view text)
{
    std::string t;
    for (char c : text)
        t += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (t == "error") return Level::Error;
    if (t == "warning" || t == "warn") return Level::Warning;
    if (t == "info") return Level::Info;
    if (t == "debug") return Level::Debug;
    return std::nullopt;
}

const char* levelName(Level l)
{
    switch (l) {
    case Level::Error: return "error";
    case Level::Warning: return "warning";
    case Level::Info: return "info";
    case Level::Debug: return "debug";
    }
    return "warning";
}

Level level()
{
    int v = g_level.load();
    if (v == kUnread) {
        static std::once_flag once;
        std::call_once(once, [] {
            if (g_level.load() == kUnread)
                readEnvironmentAndReport();
        });
        v = g_level.load();
    }
    return static_cast<Level>(v);
}

bool chosen()
{
    (void)level();
    return g_chosen.load();
}

void setLevel(Level l)
{
    g_level.store(static_cast<int>(l));
    g_chosen.store(true);
}

void setDefaultLevel(Level l)
{
    if (!chosen())
        g_level.store(static_cast<int>(l));
}

void reloadFromEnvironment()
{
    readEnvironmentAndReport();
}

bool useOption(std::string_view value)
{
    const auto parsed = parseLevel(value);
    if (!parsed)
        return false;
    setLevel(*parsed);
    ::setenv(kVariable, levelName(*parsed), 1);
    return true;
}

void write(Level l, std::string_view text)
{
    if (enabled(l))
        emit(l, text);
}

void writef(Level l, const char* format, ...)
{
    if (!enabled(l))
        return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0) {
        va_end(args);
        return;
    }
    std::vector<char> text(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    emit(l, std::string_view(text.data(), static_cast<std::size_t>(n)));
}

void setSink(Sink s)
{
    std::lock_guard lock(sinkMutex());
    sink() = std::move(s);
}

} // namespace zelbo::log
