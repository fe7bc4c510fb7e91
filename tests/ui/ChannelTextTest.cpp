// The Channel field's text: which entries name a port, and how a port is shown.
#include <gtest/gtest.h>

#include "ChannelText.h"

namespace {

struct SReadRow {
    const char* pszText;
    EChannelRead result;
    int16_t nChannel;  // kept when result is kPort
};

TEST(ChannelText, ReadsSignedDecimalPortsAndRefusesTheRest) {
    const SReadRow rows[] = {
        {"80", EChannelRead::kPort, 80},
        {" \t8080\t ", EChannelRead::kPort, 8080},
        {"+443", EChannelRead::kPort, 443},
        {"007", EChannelRead::kPort, 7},
        {"65535", EChannelRead::kPort, -1},
        {"40000", EChannelRead::kPort, -25536},
        {"32767", EChannelRead::kPort, 32767},
        {"", EChannelRead::kNotInteger, 0},
        {"   ", EChannelRead::kNotInteger, 0},
        {"80x", EChannelRead::kNotInteger, 0},
        {"x80", EChannelRead::kNotInteger, 0},
        {"8 0", EChannelRead::kNotInteger, 0},
        {"+0", EChannelRead::kNotInteger, 0},
        {"-0", EChannelRead::kNotInteger, 0},
        {"+", EChannelRead::kNotInteger, 0},
        {"- 5", EChannelRead::kNotInteger, 0},
        {"0x50", EChannelRead::kNotInteger, 0},
        {"8.0", EChannelRead::kNotInteger, 0},
        {"0", EChannelRead::kNoPort, 0},
        {"000", EChannelRead::kNoPort, 0},
        {"65536", EChannelRead::kNoPort, 0},
        {"65616", EChannelRead::kNoPort, 0},  // its low 16 bits would be port 80
        {"-32769", EChannelRead::kNoPort, 0},
        // Negative entries name no port, though the profile keeps port 40000 as -25536.
        {"-1", EChannelRead::kNoPort, 0},
        {"-100", EChannelRead::kNoPort, 0},
        {" -25536 ", EChannelRead::kNoPort, 0},
        {"-32768", EChannelRead::kNoPort, 0},
        {"99999999999999999999999999", EChannelRead::kNoPort, 0},
        {"-99999999999999999999999999", EChannelRead::kNoPort, 0},
    };
    for (const SReadRow& row : rows) {
        SCOPED_TRACE(row.pszText);
        const SChannelRead read = ReadChannelText(row.pszText);
        EXPECT_EQ(read.result, row.result);
        if (row.result == EChannelRead::kPort) {
            EXPECT_EQ(read.nChannel, row.nChannel);
        }
    }
}

TEST(ChannelText, LooksAtTheFirst31CharactersOnly) {
    const std::string strPadded = "80" + std::string(29, ' ');
    ASSERT_EQ(strPadded.size(), kChannelTextLimit);
    EXPECT_EQ(ReadChannelText(strPadded + "x").result, EChannelRead::kPort);
    EXPECT_EQ(ReadChannelText(std::string(30, ' ') + "x9").result, EChannelRead::kNotInteger);
    EXPECT_EQ(ReadChannelText(std::string(30, ' ') + "9x").result, EChannelRead::kPort);
}

TEST(ChannelText, ShowsThePortUnsignedAndReadsBackTheSameChannel) {
    const struct {
        int16_t nChannel;
        const char* pszShown;
    } rows[] = {{80, "80"}, {-25536, "40000"}, {-1, "65535"}, {-32768, "32768"}, {0, "0"}};
    for (const auto& row : rows) {
        EXPECT_EQ(ChannelText(row.nChannel), row.pszShown);
        if (row.nChannel != 0) {
            EXPECT_EQ(ReadChannelText(ChannelText(row.nChannel)).nChannel, row.nChannel);
        }
    }
}

}  // namespace
