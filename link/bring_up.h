#pragma once
// Board bring-up: binds the bridge library, makes sure the FX2 runs its
// firmware (downloading it when needed), opens the device and configures the
// FPGA from the image "Zelbo3.rbf" in the program's folder.
//
// Bring-up blocks for seconds (the firmware download alone takes >= 3 s): the
// program runs it on a worker thread. Everything the user sees goes to a
// BringUpObserver (status bar pane 0, the progress window) and to the message
// service; the observer's calls arrive on the bring-up thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/message_service.h"

namespace zelbo::link {

class FpgaLink;

inline constexpr const char* kFpgaImageName = "Zelbo3.rbf";

// Results of bringUp().
inline constexpr int kBringUpReady = 0;
inline constexpr int kBringUpNoLibrary = 1;    // also: final FPGA status wrong
inline constexpr int kBringUpSkippedNotReady = -2;
// No board could be opened; the user was told why (and the FPGA was left alone).
inline constexpr int kBringUpNoBoard = 4;     // none found (or the demo's board is missing)
inline constexpr int kBringUpNoAccess = 5;    // found, its device node not accessible
inline constexpr int kBringUpBoardBusy = 6;   // found, held by another program
inline constexpr int kBringUpOpenFailed = 7;  // found and accessible, yet not opened
inline constexpr int kBringUpStartDemo = 8;   // none found, and the user chose the demo
// Results of configureFpga().
inline constexpr int kConfigureOk = 0;
inline constexpr int kConfigureBadStatus = 1;
inline constexpr int kConfigureClosingFailed = 2;
inline constexpr int kConfigureResetFailed = 3;

class BringUpObserver {
public:
    virtual ~BringUpObserver() = default;
    // Status bar pane 0.
    virtual void statusText(const std::string& text) = 0;
    // The progress window: show, a status text, a step (step of steps; 1 of 1
    // means complete), hide.
    virtual void progressShow() = 0;
    virtual void progressText(const std::string& text) = 0;
    virtual void progressStep(int step, int steps) = 0;
    virtual void progressHide() = 0;
    // The firmware-download progress control in pane 2 of the status bar:
    // created (visible) the first time a download happens, then reset to 0 and
    // hidden once the download has been checked.
    virtual void downloadProgressControl(bool visible) { (void)visible; }
};

// An observer that ignores everything.
class NullBringUpObserver final : public BringUpObserver {
public:
    void statusText(const std::string&) override {}
    void progressShow() override {}
    void progressText(const std::string&) override {}
    void progressStep(int, int) override {}
    void progressHide() override {}
};

class BringUp {
public:
    BringUp(FpgaLink& link, BringUpObserver& observer, MessageService& messages);

    // 0 board ready; 1 library missing or final FPGA status wrong; 2 closing
    // bytes failed; 3 FPGA reset failed (or its status never settled); -2
    // configuration skipped but the board does not report ready.
    int bringUp();
    // 0 configured; 1 final status wrong; 2 closing bytes failed; 3 reset not
    // acknowledged or the board never became ready for the image.
    int configureFpga(const std::string& fileName);
    // Sends the image file from the program's folder in 512-byte chunks.
    void sendImageFile(const std::string& fileName);
    // Announces (code 8: image chunk, 0x19: closing bytes) and bulk-writes
    // `length` bytes of `data` from `offset`, or zeros when data is null.
    bool sendImageChunk(const std::uint8_t* data, std::size_t offset, std::size_t length,
                        std::uint16_t code);

private:
    // No board could be opened: says why and what to do; returns the result.
    int noBoard();

    FpgaLink& link_;
    BringUpObserver& observer_;
    MessageService& messages_;
    bool downloadControlCreated_ = false;
};

// The FPGA image file ("Zelbo3.rbf"): the whole file, read as bytes. False
// when it is missing, not a regular file (a folder opens like one), larger
// than kMaxImageFile (no image for this board comes near it; a stray file of
// that size would only be pushed to the board for minutes) or cut short while
// read.
inline constexpr std::size_t kMaxImageFile = std::size_t{32} << 20;
bool readImageFile(const std::string& path, std::vector<std::uint8_t>& image);

} // namespace zelbo::link
