#include "link/bring_up.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "link/board_probe.h"
#include "link/fpga_link.h"
#include "link/install_paths.h"

namespace zelbo::link {

namespace {
constexpr std::uint8_t kReqStatusBits = 0xBA;
constexpr std::uint8_t kReqConfigDone = 0xB0;
constexpr std::uint8_t kReqConfigPrepare = 0xB1;
constexpr std::uint8_t kReqAnnounce = 0xB4;
constexpr std::uint8_t kReqReset = 0xB9;
constexpr std::uint16_t kChunkCode = 8;
constexpr std::uint16_t kClosingCode = 0x19;
constexpr std::size_t kImageChunk = 512;
} // namespace

bool readImageFile(const std::string& path, std::vector<std::uint8_t>& image)
{
    image.clear();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "rb"));
    if (!file || std::fseek(file.get(), 0, SEEK_END) != 0) return false;
    const long size = std::ftell(file.get());
    if (size < 0 || static_cast<unsigned long>(size) > kMaxImageFile || std::fseek(file.get(), 0, SEEK_SET) != 0)
        return false;
    image.resize(static_cast<std::size_t>(size));
    if (!image.empty() && std::fread(image.data(), 1, image.size(), file.get()) != image.size()) {
        image.clear();
        return false;
    }
    return true;
}

BringUp::BringUp(FpgaLink& link, BringUpObserver& observer, MessageService& messages)
    : link_(link), observer_(observer), messages_(messages)
{
}

int BringUp::bringUp()
{
    observer_.statusText("Initializing...");
    observer_.progressShow();
    observer_.progressText("Configuring Device...");

    // Bind the library; one missing export the program calls counts as a
    // library that could not be loaded.
    {
        auto bridge = link_.options_.bridgeFactory
                          ? link_.options_.bridgeFactory()
                          : std::make_unique<CCyUSB>(link_.options_.programFolder,
                                                     link_.options_.libraryName);
        const bool ok = bridge && bridge->usable();
        if (ok) {
            boost::lock_guard lock(link_.busMutex_);
            link_.bridge_ = std::move(bridge);
        } else {
            messages_.show("Error: Cannot find DLL file. Please reinstall software.", kAppCaption,
                           MsgIcon::Warning);
            return kBringUpNoLibrary;
        }
    }
    CCyUSB& usb = *link_.bridge_;

    int check = 0;
    {
        boost::lock_guard lock(link_.busMutex_);
        check = usb.USB_Check(kBoardManufacturer);
    }
    bool haveFirmware = check == 1;
    if (!haveFirmware) {
        observer_.progressText("Downloading Firmware...");
        {
            boost::lock_guard lock(link_.busMutex_);
            (void)usb.download();
        }
        if (!downloadControlCreated_) {
            downloadControlCreated_ = true;
            observer_.downloadProgressControl(true);
        }
        observer_.statusText("Downloading firmware...");
        {
            boost::lock_guard lock(link_.busMutex_);
            check = usb.USB_Check(kBoardManufacturer);
        }
        haveFirmware = check == 1;
        if (haveFirmware) {
            observer_.statusText("Firmware ready");
            observer_.progressStep(1, 1);
        } else {
            observer_.statusText("Failed to download firmware");
        }
        observer_.downloadProgressControl(false);
    }
    if (haveFirmware) {
        boost::lock_guard lock(link_.busMutex_);
        link_.deviceHandle_ = usb.USB_Init(kBoardManufacturer);
    }
    // Without an open board every FPGA request fails, and the user would read
    // an FPGA error about a board that was never reached.
    if (!haveFirmware || link_.deviceHandle_ == 0)
        return noBoard();

    const VendorReply first = link_.vendorRequest(kReqStatusBits, 0, 2);
    if (first.bytes[1] == 0) {
        const int c = configureFpga(link_.options_.imageName);
        (void)link_.readStatus();
        if (c != kConfigureOk) {
            const char* text = c == kConfigureResetFailed ? "FPGA Reset failed!"
                                                          : "FPGA Configuration failed!";
            observer_.statusText("Not Ready...");
            observer_.progressText(text);
            link_.clock().sleep(std::chrono::milliseconds(1500));
            observer_.progressHide();
            return c;
        }
    } else {
        const VendorReply second = link_.vendorRequest(kReqStatusBits, 0, 2);
        if (second.bytes[0] != 1 && second.bytes[1] != 1)
            return kBringUpSkippedNotReady;
    }

    observer_.progressStep(1, 1);
    observer_.statusText("Ready...");
    observer_.progressHide();
    return kBringUpReady;
}

int BringUp::noBoard()
{
    observer_.statusText("Not Ready...");
    observer_.progressHide();
    const char* board = std::getenv("ZELBO_BOARD");
    if (board != nullptr && std::strcmp(board, "sim") == 0) {
        messages_.show("The simulated board could not be started.\n\n"
                       "The demo needs libzelbosimboard.so.1 beside libUsbBridge.so.1 (the zelbo-demo package "
                       "installs it).",
                       kAppCaption, MsgIcon::Error);
        return kBringUpNoBoard;
    }
    const BoardProbe probe = link_.options_.boardProbe ? link_.options_.boardProbe() : probeBoard();
    const std::string text = boardProblemText(probe);
    switch (probe.access) {
    case BoardAccess::NoBoard:
        return messages_.show(text, kAppCaption, MsgIcon::Question, MsgButtons::YesNo) == MsgAnswer::Yes
                   ? kBringUpStartDemo
                   : kBringUpNoBoard;
    case BoardAccess::NoAccess:
        messages_.show(text, kAppCaption, MsgIcon::Warning);
        return kBringUpNoAccess;
    case BoardAccess::Busy:
        messages_.show(text, kAppCaption, MsgIcon::Warning);
        return kBringUpBoardBusy;
    case BoardAccess::Accessible: break;
    }
    messages_.show(text, kAppCaption, MsgIcon::Warning);
    return kBringUpOpenFailed;
}

int BringUp::configureFpga(const std::string& fileName)
{
    (void)link_.vendorRequest(kReqConfigPrepare, 0, 1);
    const VendorReply reset = link_.vendorRequest(kReqReset, 0, 1);
    if (!(reset.ok && reset.bytes[0] == 1))
        return kConfigureResetFailed;

    // Wait until the board is ready for the image. A board that never gets
    // there is given up on (by count and by time) as a failed reset.
    const auto& t = link_.options_.timings;
    const auto deadline = link_.clock().now() + t.configurePollTime;
    for (int polls = 0;; ++polls) {
        const VendorReply s = link_.vendorRequest(kReqStatusBits, 0, 2);
        if (s.bytes[1] == 0 || s.bytes[0] != 0)
            break;
        if (polls + 1 >= t.configurePolls || link_.clock().now() >= deadline)
            return kConfigureResetFailed;
    }

    sendImageFile(fileName);
    if (!sendImageChunk(nullptr, 0, 3, kClosingCode))
        return kConfigureClosingFailed;

    link_.clock().sleep(std::chrono::milliseconds(300));
    const VendorReply fin = link_.vendorRequest(kReqStatusBits, 0, 2);
    if (fin.ok && fin.bytes[1] == 1 && fin.bytes[0] == 1) {
        (void)link_.vendorRequest(kReqConfigDone, 0, 1);
        return kConfigureOk;
    }
    return kConfigureBadStatus;
}

void BringUp::sendImageFile(const std::string& fileName)
{
    const auto path =
        locate(link_.options_.programFolder, dataFolderOf({}).string(), fileName).string();
    std::vector<std::uint8_t> image;
    if (!readImageFile(path, image)) {
        // A missing or unreadable image: tell the user; the closing bytes and
        // the final status check still run and report the failure.
        messages_.show("ERROR: RBF File Error", "EEPROM Evaluation System", MsgIcon::Error);
        return;
    }

    const std::size_t chunks = (image.size() + kImageChunk - 1) / kImageChunk;
    observer_.progressText("Configuring FPGA...");
    std::size_t offset = 0;
    for (std::size_t i = 0; i < chunks; ++i) {
        observer_.progressStep(static_cast<int>(i & 0xFFFF), static_cast<int>(chunks & 0xFFFF));
        const std::size_t length = std::min(kImageChunk, image.size() - offset);
        if (!sendImageChunk(image.data(), offset, length, kChunkCode))
            break;
        offset += length;
    }
}

bool BringUp::sendImageChunk(const std::uint8_t* data, std::size_t offset, std::size_t length,
                             std::uint16_t code)
{
    (void)link_.vendorRequest(kReqAnnounce, code, 2);
    std::vector<std::uint8_t> chunk(length, 0);
    if (data && length)
        std::copy(data + offset, data + offset + length, chunk.begin());
    int r = 1;
    {
        boost::lock_guard lock(link_.busMutex_);
        r = link_.bridge_->USB_BulkWrite(chunk.data(), static_cast<int>(length), kBulkOut);
    }
    if (r != 0)
        return false;
    (void)link_.vendorRequest(kReqStatusBits, 0, 2);
    return true;
}

} // namespace zelbo::link
