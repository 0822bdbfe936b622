#include "app/base/paths.h"
#include "app/base/text_number.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(LeadingNumber, ReadsLikeTheGameFiles)
{
    struct Case { const char* text; int64_t value; };
    const Case cases[] = {
        {"17", 17}, {"  -42x", -42}, {"+7;", 7}, {"fr", 0}, {"", 0}, {"-", 0},
        {"17\n", 17}, {"\t 3 4", 3}, {"9223372036854775807", INT64_MAX},
        {"9223372036854775808", INT64_MAX}, {"-9223372036854775808", INT64_MIN},
        {"-99999999999999999999", INT64_MIN},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LeadingNumber64(c.text), c.value) << c.text;
}

TEST(LeadingNumber, ThirtyTwoBitSaturates)
{
    EXPECT_EQ(LeadingNumber32("2147483647"), INT32_MAX);
    EXPECT_EQ(LeadingNumber32("2147483648"), INT32_MAX);
    EXPECT_EQ(LeadingNumber32("-2147483649"), INT32_MIN);
    EXPECT_EQ(LeadingNumber32(" -12abc"), -12);
}

TEST(Paths, TrailingSeparator)
{
    struct Case { const char* in; const char* out; bool appended; };
    const Case cases[] = {
        {"C:\\Games\\Flight", "C:\\Games\\Flight\\", true},
        {"C:\\Games\\Flight\\", "C:\\Games\\Flight\\", false},
        {"C:/Games/Flight/", "C:/Games/Flight/", false},
        {"", "\\", true},
    };
    for (const Case& c : cases) {
        std::string path = c.in;
        EXPECT_EQ(EnsureTrailingSeparator(path), c.appended) << c.in;
        EXPECT_EQ(path, c.out);
    }
    EXPECT_EQ(JoinPath("D:\\Games\\Flight", "ZP.EXE"), "D:\\Games\\Flight\\ZP.EXE");
    EXPECT_EQ(JoinPath("D:/Games/", "ZP.EXE"), "D:/Games/ZP.EXE");
}

TEST(Paths, CopyRefusesWhatDoesNotFit)
{
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_FALSE(CopyToBuffer(buffer, sizeof buffer, "12345678"));
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_TRUE(CopyToBuffer(buffer, sizeof buffer, "1234567"));
    EXPECT_STREQ(buffer, "1234567");
}
