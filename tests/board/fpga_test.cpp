// The FPGA behind the FX2: configuration, command frames in, records out,
// the DAC and supply, and the event log.

#include "board_fixture.h"

#include <cstdio>
#include <fstream>

namespace boardtest {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = simboard::LogEvent::Kind;
using simboard::FpgaState;

TEST_F(BoardTest, ConfigurationTakesTheImageInOrder)
{
    downloadFirmware();
    Bytes image(1025);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 31 + 7);
    EXPECT_EQ(configure(image), (Bytes{1, 1}));
    EXPECT_EQ(ctl.fpgaState(), FpgaState::Configured);
    EXPECT_EQ(ctl.fpgaImage(), image) << "512 + 512 + 1 bytes, closing bytes not part of it";
    EXPECT_EQ(ctl.portD() & 0xC3, 0xC0) << "port D left idle after the shifting";
    EXPECT_EQ(status()[1] & 0x04, 0x04) << "command path open after 0xB0";
}

TEST_F(BoardTest, ConfigurationFailsWithoutAnImage)
{
    downloadFirmware();
    EXPECT_EQ(configure({}), (Bytes{0, 0}));
    EXPECT_EQ(ctl.fpgaState(), FpgaState::Failed);

    ctl.setFailConfiguration(true);
    EXPECT_EQ(configure(Bytes(600, 1)), (Bytes{0, 0}));
    ctl.setFailConfiguration(false);
    EXPECT_EQ(configure(Bytes(600, 1)), (Bytes{1, 1})) << "a new nCONFIG pulse starts afresh";
}

TEST_F(BoardTest, ImageSentOnTheCommandPathDoesNotConfigure)
{
    downloadFirmware();
    // No 0xB1: EP4 still feeds the FPGA's command FIFO, which an unconfigured
    // FPGA never drains.
    vendor(0xB9);
    vendor(0xB4, 8, 2);
    EXPECT_EQ(bulkOut(Bytes(512, 1)), Result::Ok);
    EXPECT_EQ(status()[1] & 0x04, 0) << "the bytes sit in EP4";
    EXPECT_EQ(bulkOut(Bytes(88, 1), 10), Result::Timeout);
    vendor(0xB4, 0x19, 2);
    EXPECT_EQ(bulkOut({0, 0, 0}, 10), Result::Timeout);
    EXPECT_EQ(vendor(0xBA, 0, 2).bytes, (Bytes{1, 0}));
    EXPECT_EQ(ctl.fpgaState(), FpgaState::Configuring);
    ctl.configureFpga();
    EXPECT_EQ(status()[1] & 0x04, 0x04) << "a configured FPGA drains the stale bytes";
}

TEST_F(BoardTest, HardwareReadyFollowsTheHostReadyLine)
{
    downloadFirmware();
    vendor(0xB5, 0); // before configuration: nothing to say yet
    EXPECT_EQ(status()[0], 0);
    configure(Bytes(100, 9));
    auto records = drain();
    ASSERT_EQ(records.size(), 1u) << "ready as soon as configured while the line is high";
    EXPECT_EQ(records[0][0], 0x01);

    vendor(0xB5, 0);
    vendor(0xB5, 2);
    EXPECT_TRUE(drain().empty()) << "only a rising line announces readiness";
    vendor(0xB5, 1);
    vendor(0xB5, 0);
    records = drain();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0][0], 0x01);
}

TEST_F(BoardTest, FramesLandInRegistersDacAndLog)
{
    bringUp();
    const Bytes frames = cat({writeFrame(0x90, 0x07), writeFrame(0x70, 0x01, 1), writeFrame(1, 0xE3),
                              writeFrame(23, 0xE2), writeFrame(24, 0x04), writeFrame(26, 133)});
    ASSERT_EQ(bulkOut(frames), Result::Ok);
    EXPECT_EQ(ctl.registerValue(0x90), 0x07);
    EXPECT_EQ(ctl.registerValue(0x70), 0x01);
    EXPECT_EQ(ctl.supplyMillivolts(), 5000);
    EXPECT_EQ(ctl.dacCode(133), 1250);

    const auto log = ctl.log();
    ASSERT_EQ(log.size(), 7u);
    EXPECT_EQ(log[0].kind, Kind::RegisterWrite);
    EXPECT_EQ(log[0].code, 0x90);
    EXPECT_EQ(log[1].writeClass, 1);
    EXPECT_EQ(log[6].kind, Kind::DacLoad) << "the strobe write, then the load";
    EXPECT_EQ(log[6].code, 133);
    EXPECT_EQ(log[6].value, 1250);
    for (std::size_t i = 1; i < log.size(); ++i) EXPECT_GE(log[i].timeNs, log[i - 1].timeNs);

    // Every channel by its own register pair; a strobe outside 128..135 loads nothing.
    const std::uint8_t lo[8] = {40, 36, 32, 38, 42, 23, 21, 34};
    Bytes all;
    for (int ch = 0; ch < 8; ++ch) {
        all = cat({all, writeFrame(lo[ch], std::uint8_t(ch + 1)), writeFrame(std::uint8_t(lo[ch] + 1), 0x10),
                   writeFrame(26, std::uint8_t(128 + ch))});
    }
    all = cat({all, writeFrame(26, 127), writeFrame(1, 0xE1)});
    ASSERT_EQ(bulkOut(all), Result::Ok);
    for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(ctl.dacCode(std::uint8_t(128 + ch)), 0x1000 + ch + 1) << ch;
    EXPECT_EQ(ctl.supplyMillivolts(), 3300);
    bulkOut(writeFrame(1, 0x55));
    EXPECT_EQ(ctl.supplyMillivolts(), 3300) << "not a supply setting";
    bulkOut(writeFrame(1, 0xE0));
    EXPECT_EQ(ctl.supplyMillivolts(), 0);
}

TEST_F(BoardTest, ReadRequestsAreAnsweredInOrder)
{
    bringUp();
    bulkOut(cat({writeFrame(0x54, 0x12), writeFrame(0x55, 0x03), readFrame(0x55), readFrame(0x54), readFrame(0x99)}));
    const auto s = status();
    EXPECT_EQ(s[0], 1);
    EXPECT_EQ(s[1] & 0x03, 0x00) << "one of EP2's two buffers holds a block: neither empty nor full";
    EXPECT_EQ(vendor(0x20, 0, 2).bytes, (Bytes{0x00, 0x02}));
    const auto records = drain();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0], (std::array<std::uint8_t, 3>{0x40, 0x55, 0x03}));
    EXPECT_EQ(records[1], (std::array<std::uint8_t, 3>{0x40, 0x54, 0x12}));
    EXPECT_EQ(records[2], (std::array<std::uint8_t, 3>{0x40, 0x99, 0x00}));
    EXPECT_EQ(status()[0], 0);

    // 86 answers do not fit one block: 85 records, then a second block.
    Bytes many;
    for (int i = 0; i < 86; ++i) many = cat({many, readFrame(std::uint8_t(i))});
    bulkOut(many);
    EXPECT_EQ(ctl.blocksWaiting(), 2u);
    EXPECT_EQ(status()[1] & 0x03, 0x02) << "both EP2 buffers hold a block: full";
    EXPECT_EQ(drain().size(), 86u);
}

TEST_F(BoardTest, BlockWritesFillTheTargetMemory)
{
    bringUp();
    Bytes frame = {0, 0, 0, 0x03, 5, 0x01, 0x00, 0x00, 0x02, 0xA1, 0xA2, 0xA3};
    ASSERT_EQ(bulkOut(frame), Result::Ok);
    EXPECT_EQ(ctl.blockMemory(5, 0x100, 4), (Bytes{0xA1, 0xA2, 0xA3, 0x00}));
    const auto log = ctl.log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].kind, Kind::BlockWrite);
    EXPECT_EQ(log[0].code, 5);
    EXPECT_EQ(log[0].value, 0x100);
    EXPECT_EQ(log[0].count, 3);

    // A block at the top of the address space does not wrap around.
    Bytes top = {0, 0, 0, 0x03, 0, 0xFF, 0xFF, 0x00, 0x01, 0x77, 0x88};
    ASSERT_EQ(bulkOut(top), Result::Ok);
    EXPECT_EQ(ctl.blockMemory(0, 0xFFFF, 1), Bytes{0x77});
    EXPECT_EQ(ctl.blockMemory(0, 0, 1), Bytes{0x00});
}

TEST_F(BoardTest, MalformedFramesStopTheTransferButNotTheBoard)
{
    bringUp();
    struct Case {
        const char* what;
        Bytes bytes;
    };
    const Case cases[] = {
        {"cut-short write", cat({writeFrame(10, 1), Bytes{0, 0, 0, 0, 11}})},
        {"cut-short read", cat({writeFrame(10, 1), Bytes{0, 0, 0, 0x80}})},
        {"stray bytes", cat({writeFrame(10, 1), Bytes{0, 0}})},
        {"unknown frame type", cat({writeFrame(10, 1), Bytes{0, 0, 0, 0x42, 11, 1}, writeFrame(12, 1)})},
        {"oversize block", cat({writeFrame(10, 1), Bytes{0, 0, 0, 3, 0, 0, 0, 0x01, 0xF7}, Bytes(503, 0xAB)})},
        {"block longer than the transfer", cat({writeFrame(10, 1), Bytes{0, 0, 0, 3, 0, 0, 0, 0, 9, 1, 2}})},
    };
    for (const auto& c : cases) {
        bulkOut(writeFrame(10, 0));
        drain();
        ASSERT_EQ(bulkOut(c.bytes), Result::Ok) << c.what;
        EXPECT_EQ(ctl.registerValue(10), 1) << c.what << ": frames before the fault apply";
        EXPECT_EQ(ctl.registerValue(11), 0) << c.what;
        EXPECT_EQ(ctl.registerValue(12), 0) << c.what << ": nothing after it";
        const auto records = drain();
        ASSERT_EQ(records.size(), 1u) << c.what;
        EXPECT_EQ(records[0][0], 0xE0) << c.what;
    }
    EXPECT_EQ(ctl.blockMemory(0, 0, 1), Bytes{0});
    // The next transfer is framed afresh.
    bulkOut(writeFrame(11, 5));
    EXPECT_EQ(ctl.registerValue(11), 5);
}

TEST_F(BoardTest, LogFileCarriesOneLinePerEvent)
{
    const std::string path = ::testing::TempDir() + "board_log_test.txt";
    std::remove(path.c_str());
    ASSERT_TRUE(ctl.setLogFile(path));
    bringUp(); // vendor requests of bring-up go to the file too
    bulkOut(cat({writeFrame(1, 0xE3), writeFrame(23, 0xE2), writeFrame(24, 0x04), writeFrame(26, 0x85)}));
    bulkOut({0, 0, 0, 0x03, 0, 0, 0, 0, 2, 0, 0, 0});
    vendor(0xB5, 1);
    vendor(0xFD, 1, 6);
    ctl.setLogFile("");

    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(lines[0], "V A0 E600") << "the loader's first write";
    const std::vector<std::string> tail(lines.end() - 7, lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"W 01 E3", "W 17 E2", "W 18 04", "W 1A 85", "D 85 04E2",
                                              "B 00 0000 0003", "V B5 0001"}))
        << "status polls stay out of the log";
    std::remove(path.c_str());
}

} // namespace
} // namespace boardtest
