#pragma once
// The program's one log channel: four levels, written to stderr. The level is
// chosen by the ZELBO_LOG environment variable (error, warning, info, debug)
// or a front end's --log-level option; warning when neither says. A message
// above the level is dropped before it is formatted.
//
// The bridge library, loaded later into the same process, keeps its own copy
// of this channel and reads the variable when it starts: useOption() therefore
// exports the chosen level, so that the bridge (and libusb under it) follow
// the option as they follow the variable.
//
// Status bar texts and message boxes are the user's; they never go here.

#include <cstdarg>
#include <functional>
#include <optional>
#include <string_view>

namespace zelbo::log {

enum class Level : int { Error = 0, Warning = 1, Info = 2, Debug = 3 };

inline constexpr const char* kVariable = "ZELBO_LOG";
inline constexpr Level kDefaultLevel = Level::Warning;

// "error", "warning" (or "warn"), "info", "debug", in any case; nothing else.
std::optional<Level> parseLevel(std::string_view text);
const char* levelName(Level level);

// The level in force. The first call reads ZELBO_LOG; a value that names no
// level is reported once (as a warning) and the default used.
Level level();
// Whether the level was chosen (by the variable or an option) rather than
// defaulted: libusb's own logging is only touched when it was.
bool chosen();
void setLevel(Level level);
// A program's own default in place of warning (a server shows its
// connections): applies only while nothing chose a level.
void setDefaultLevel(Level level);
// Reads ZELBO_LOG again (tests; the first call to level() does it anyway).
void reloadFromEnvironment();
// A front end's --log-level value: sets the level and exports it in ZELBO_LOG.
// False (and nothing changed) for a value that names no level.
bool useOption(std::string_view value);

inline bool enabled(Level l) { return static_cast<int>(l) <= static_cast<int>(level()); }

// Writes one line (a newline is added) when `l` is enabled.
void write(Level l, std::string_view text);
void writef(Level l, const char* format, ...) __attribute__((format(printf, 2, 3)));

inline void error(std::string_view text) { write(Level::Error, text); }
inline void warning(std::string_view text) { write(Level::Warning, text); }
inline void info(std::string_view text) { write(Level::Info, text); }
inline void debug(std::string_view text) { write(Level::Debug, text); }

// Where enabled lines go instead of stderr (tests); an empty function puts
// stderr back.
using Sink = std::function<void(Level, std::string_view)>;
void setSink(Sink sink);

} // namespace zelbo::log
