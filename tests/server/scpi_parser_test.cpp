// The SCPI parser over a table of lines, the suffix rules, and the client
// allow-list.

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "server/net_allow.h"
#include "server/scpi_parser.h"

namespace {

using zelbo::server::Command;
using zelbo::server::parseLine;
using Kind = zelbo::server::Param::Kind;

// "A:B2:C" for a command's path, '*' first for a common one, '?' last for a query.
std::string pathText(const Command& c)
{
    std::string s = c.common ? "*" : "";
    for (std::size_t i = 0; i < c.path.size(); ++i) {
        s += (i ? ":" : "") + c.path[i].name;
        if (c.path[i].suffix >= 0) s += std::to_string(c.path[i].suffix);
    }
    return s + (c.query ? "?" : "");
}

struct LineCase {
    const char* line;
    std::vector<std::string> paths; // what parses, in order
    int error;                      // of the last unit (0: none)
};

TEST(ScpiParser, LinesBecomeCommandsWithThePathRuleOrTheErrorThatEndsThem)
{
    const std::vector<LineCase> cases = {
        {"*IDN?", {"*IDN?"}, 0},
        {"*rst;*opc?", {"*RST", "*OPC?"}, 0},
        {"syst:err?", {"SYST:ERR?"}, 0},
        {":SYSTem:ERRor:NEXT?", {"SYSTEM:ERROR:NEXT?"}, 0},
        // The path rule: a unit continues below the last one's parent...
        {"SOUR:VREF 1;MTH 2", {"SOUR:VREF", "SOUR:MTH"}, 0},
        // ...unless it starts at the root; common commands leave the path alone.
        {"CLOC:FREQ 1e3;:VREF?;*OPC?;MTH?", {"CLOC:FREQ", "VREF?", "*OPC?", "MTH?"}, 0},
        {"CHANnel2:SCAL 0.5;CHAN3:DISP OFF", {"CHANNEL2:SCAL", "CHANNEL2:CHAN3:DISP"}, 0},
        {"  VREF?  \r", {"VREF?"}, 0},
        {"VREF?;", {"VREF?"}, 0},
        {"", {}, 0},
        // Errors: the units before run, the rest of the line is dropped.
        {"VREF 1;;MTH 2", {"VREF"}, -102},
        {"VREF 1;SYST::ERR?;MTH 2", {"VREF"}, -102},
        {"?", {}, -102},
        {"*", {}, -102},
        {"*IDN2?", {}, -102},
        {"VR-EF 1", {}, -113},
        {"VREF 1 2", {}, -121},
        {"VREF 1,", {}, -102},
        {"VREF ,1", {}, -102},
        {"VREF @", {}, -101},
        {"CHIP \"open", {}, -151},
        {"CHIP \"a\"b", {}, -151},
        {"VREF 1e999", {}, -121},
        {"VREF #HXYZ", {}, -121},
        {"DATA #14abcd", {}, -104},
        {"VREF 1\x01", {}, -101},
    };
    for (const auto& c : cases) {
        const auto cmds = parseLine(c.line);
        std::vector<std::string> ok;
        int error = 0;
        for (const auto& cmd : cmds) {
            if (cmd.error) {
                error = cmd.error;
                EXPECT_EQ(&cmd, &cmds.back()) << c.line;
            } else {
                ok.push_back(pathText(cmd));
            }
        }
        EXPECT_EQ(ok, c.paths) << c.line;
        EXPECT_EQ(error, c.error) << c.line;
    }
}

TEST(ScpiParser, ParametersKeepTheirKindValueAndSuffix)
{
    const auto cmds = parseLine("X 1.5,-2E-3mV, 2 KHZ,ON,'it''s',\"a;b,c\",#H1F,#B101,.5,+7%");
    ASSERT_EQ(cmds.size(), 1u);
    ASSERT_EQ(cmds[0].error, 0);
    const auto& p = cmds[0].params;
    ASSERT_EQ(p.size(), 10u);
    EXPECT_EQ(p[0].kind, Kind::Number);
    EXPECT_DOUBLE_EQ(p[0].number, 1.5);
    EXPECT_DOUBLE_EQ(p[1].number, -2e-3);
    EXPECT_EQ(p[1].suffix, "MV");
    EXPECT_EQ(p[2].suffix, "KHZ");
    EXPECT_EQ(p[3].kind, Kind::Chars);
    EXPECT_EQ(p[3].text, "ON");
    EXPECT_EQ(p[4].kind, Kind::String);
    EXPECT_EQ(p[4].text, "it's");
    EXPECT_EQ(p[5].text, "a;b,c"); // separators inside quotes are text
    EXPECT_DOUBLE_EQ(p[6].number, 31);
    EXPECT_DOUBLE_EQ(p[7].number, 5);
    EXPECT_DOUBLE_EQ(p[8].number, 0.5);
    EXPECT_EQ(p[9].suffix, "PCT");
}

TEST(ScpiParser, TooLongLinesAndTooManyCommandsAreRefused)
{
    const std::string longLine(zelbo::server::kMaxLineLength + 1, 'A');
    auto cmds = parseLine(longLine);
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].error, -363);

    std::string many;
    for (std::size_t i = 0; i < zelbo::server::kMaxCommandsPerLine + 5; ++i) many += "*CLS;";
    cmds = parseLine(many);
    ASSERT_EQ(cmds.size(), zelbo::server::kMaxCommandsPerLine + 1);
    EXPECT_EQ(cmds.back().error, -223);
}

TEST(ScpiParser, SuffixesScaleByTheUnitWithScpisMegaExceptions)
{
    using zelbo::server::suffixScale;
    EXPECT_EQ(suffixScale("", "V"), 1.0);
    EXPECT_EQ(suffixScale("V", "V"), 1.0);
    EXPECT_EQ(suffixScale("MV", "V"), 1e-3);
    EXPECT_EQ(suffixScale("UV", "V"), 1e-6);
    EXPECT_EQ(suffixScale("KHZ", "HZ"), 1e3);
    EXPECT_EQ(suffixScale("MHZ", "HZ"), 1e6); // mega, as SCPI has it
    EXPECT_EQ(suffixScale("MAHZ", "HZ"), 1e6);
    EXPECT_EQ(suffixScale("MA", "A"), 1e-3); // milliampere
    EXPECT_EQ(suffixScale("K", "HZ"), 1e3);  // a bare multiplier
    EXPECT_EQ(suffixScale("US", "S"), 1e-6);
    EXPECT_EQ(suffixScale("PCT", "PCT"), 1.0);
    EXPECT_FALSE(suffixScale("V", "HZ"));
    EXPECT_FALSE(suffixScale("XV", "V"));
    EXPECT_FALSE(suffixScale("K", "")); // a plain number takes no suffix
}

TEST(ScpiParser, KeywordsMatchTheirLongOrShortFormInAnyCase)
{
    using zelbo::server::keywordMatches;
    EXPECT_TRUE(keywordMatches("POSitive", "pos"));
    EXPECT_TRUE(keywordMatches("POSitive", "POSITIVE"));
    EXPECT_FALSE(keywordMatches("POSitive", "POSI"));
    EXPECT_FALSE(keywordMatches("POSitive", "P"));
}

sockaddr_storage peer(const char* text)
{
    sockaddr_storage s{};
    socklen_t len = 0;
    zelbo::server::socketAddress(text, 0, s, len);
    return s;
}

TEST(NetAllow, ClientsAreMatchedAgainstTheirNetworksV4V6AndMapped)
{
    using zelbo::server::parseNetwork;
    const std::vector nets = {*parseNetwork("192.168.1.0/24"), *parseNetwork("10.1.2.3"), *parseNetwork("fd00::/8")};
    EXPECT_TRUE(zelbo::server::allowed(nets, peer("192.168.1.77")));
    EXPECT_FALSE(zelbo::server::allowed(nets, peer("192.168.2.1")));
    EXPECT_TRUE(zelbo::server::allowed(nets, peer("10.1.2.3")));
    EXPECT_FALSE(zelbo::server::allowed(nets, peer("10.1.2.4")));
    EXPECT_TRUE(zelbo::server::allowed(nets, peer("fd12::1")));
    EXPECT_FALSE(zelbo::server::allowed(nets, peer("fe80::1")));
    // An IPv4 client on an IPv6 socket.
    EXPECT_TRUE(zelbo::server::allowed(nets, peer("::ffff:192.168.1.5")));

    const auto loop = zelbo::server::loopbackNetworks();
    EXPECT_TRUE(zelbo::server::allowed(loop, peer("127.0.0.2")));
    EXPECT_TRUE(zelbo::server::allowed(loop, peer("::1")));
    EXPECT_FALSE(zelbo::server::allowed(loop, peer("192.168.1.1")));

    for (const char* bad : {"", "1.2.3.4/33", "1.2.3/8", "::/129", "1.2.3.4/", "1.2.3.4/x", "host/8"})
        EXPECT_FALSE(parseNetwork(bad)) << bad;
    EXPECT_EQ(parseNetwork("0.0.0.0/0")->bits, 0);
}

} // namespace
