#pragma once
// The chip list: the driver-IC variants the board can drive, each with the two
// coefficients of its junction-temperature conversion, the drive mode it
// belongs to and the names of its four excitation modes.
//
// The list is read from a tab-separated ".chip" text file. The first line is a
// header and is skipped whatever it holds; every further line carries eight
// fields: name, A, B, mode and four excitation names. Loading stops quietly at
// the first line that is not a full record, and with a message at a record
// whose B is zero; entries read before the stop stay in the list.
//
// Qt-free: the pin panel and the main window bind to it.

#include <array>
#include <cstddef>
#include <filesystem>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelbo {
class MessageService;
}

namespace zelbo::files {

struct ChipEntry {
    int mode = 0;          // drive mode the chip belongs to (0 Clk-In, 1 Para-In, 2 H-Bridge)
    std::string name;      // shown in "Chip Name"
    double a = 0.0;        // offset, mV
    double b = 1.0;        // slope, mV per degree; never 0
    std::array<std::string, 4> excitation; // indexed by 2 x MODE0 + MODE1 (High = 1)
};

// The entry the list falls back to when a file holds no chips at all.
ChipEntry builtInChip();

// Caption and texts of the loader's messages.
inline constexpr const char* kChipListCaption = "Error - Loading Chiplist";
inline constexpr const char* kChipOpenFailed = "Unable to open chip file list.\nPlease reinstall software.";
inline constexpr const char* kChipInvalidB = "Invalid value for \"B\".";

// Leading-part number parsing of the file's fields: the longest prefix that is
// a decimal number ([+-]digits[.digits][e[+-]digits]); no prefix gives 0.
// Independent of the process locale, and never yields infinities or NaN.
// (Integers go through common/number_text.h's parseLeadingInt.)
double parseLeadingDouble(std::string_view text);

class ChipList {
public:
    ChipList();

    // Reads the file at `path`: 0 on success, -1 when it cannot be opened (the
    // message has then been shown). A successful load may still have stopped
    // early; see the file comment.
    int load(const std::filesystem::path& path, MessageService& messages);
    // The same on a stream that is already open (after the header line has
    // not yet been read).
    void read(std::istream& in, MessageService& messages);

    bool loaded() const { return loaded_; }
    const std::vector<ChipEntry>& entries() const { return entries_; }
    std::size_t size() const { return entries_.size(); }

    // The names for the "Chip Name" list of drive mode `mode`, in file order.
    // When the list holds no entry, the built-in entry is added first.
    std::vector<std::string> fillNames(int mode);

    // Makes the entry called `name` the current chip and takes its A and B.
    // When no entry has that name, A and B keep their values; the name is still
    // remembered as the selection. Returns whether an entry matched.
    bool applySelected(const std::string& name);

    const std::string& selectedName() const { return selected_; }
    double a() const { return a_; }
    double b() const { return b_; }

    // The excitation-mode text for the pins MODE0 and MODE1. A list of one
    // entry uses the pin panel's own table (indexed MODE0 + 2 x MODE1);
    // otherwise the selected chip's names (indexed 2 x MODE0 + MODE1).
    std::string excitationText(bool mode0High, bool mode1High) const;

    // The current chip's name for whoever asks (the temperature monitor):
    // nothing when no list has been loaded.
    std::optional<std::string> chipName() const;

private:
    const ChipEntry* find(const std::string& name) const;

    std::vector<ChipEntry> entries_;
    bool loaded_ = false;
    std::string selected_;
    double a_ = 0.0;
    double b_ = 1.0;
};

} // namespace zelbo::files
