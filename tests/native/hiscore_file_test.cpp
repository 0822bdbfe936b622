#include "online/hiscore_file.h"

#include <gtest/gtest.h>

#include <string>

namespace {
// A line whose masked score S, mask M and checks K1..K3 pass: S^M == K1^K2^K3.
std::string ValidLine(const std::string& name, int64_t score, int64_t mask = 0x5a5a5a5a)
{
    const int64_t k1 = 12345, k2 = 987654321;
    const int64_t k3 = score ^ k1 ^ k2;
    return name + ";7;" + std::to_string(k1) + ";" + std::to_string(mask) + ";" + std::to_string(k2) +
           ";" + std::to_string(k3) + ";" + std::to_string(score ^ mask);
}

std::string SixLines(const std::string& first)
{
    std::string data = first + "\r\n";
    for (int i = 1; i < HiscoreRecords; ++i)
        data += ValidLine("P" + std::to_string(i), i * 100) + "\r\n";
    return data;
}
}

TEST(HiscoreLine, TheXorCheck)
{
    struct Case { std::string line; const char* name; int64_t score; bool complete; };
    const Case cases[] = {
        {ValidLine("Ann Lee", 123456), "Ann Lee", 123456, true},
        {"Ann;0;0;0;0;0;0", "Ann", 0, true},
        {ValidLine("Neg", -77), "Neg", -77, true},
        {"A;1;3;3;2;4;6", "A", 5, true},            // 6^3 = 5 = 3^2^4
        {"A;1;9;3;2;4;6", "A", 0, true},            // K1 changed
        {"A;1;3;0;2;4;6", "A", 0, true},            // M changed
        {"A;1;3;3;0;4;6", "A", 0, true},            // K2 changed
        {"A;1;3;3;2;0;6", "A", 0, true},            // K3 changed
        {"A;1;3;3;2;4;7", "A", 0, true},            // S changed
        {";;A;;1;3;;3;2;4;6;extra", "A", 5, true},  // runs and leading separators
        {"A;1; 3;+3;2;4;6x", "A", 5, true},         // numbers read like the game reads them
        {"A;1;1;3;2;4", "A", 0, false},             // six fields
        {"", "", 0, false},
        {";;;;", "", 0, false},
    };
    for (const Case& c : cases) {
        HiscoreEntry entry;
        entry.Score = 99;
        EXPECT_EQ(ParseHiscoreLine(c.line, entry), c.complete) << c.line;
        EXPECT_STREQ(entry.Name, c.name) << c.line;
        EXPECT_EQ(entry.Score, c.score) << c.line;
    }
}

TEST(HiscoreLine, LongTextsAreCut)
{
    HiscoreEntry entry;
    const std::string name(200, 'n');
    EXPECT_TRUE(ParseHiscoreLine(ValidLine(name, 42), entry));
    EXPECT_EQ(std::string(entry.Name), std::string(63, 'n'));
    EXPECT_EQ(entry.Score, 42);

    // Only the first 1023 characters of a line count: the score field is beyond them.
    const std::string padded = std::string(1020, 'n') + ";1;1;3;2;4;6";
    EXPECT_FALSE(ParseHiscoreLine(padded, entry));
    EXPECT_EQ(entry.Score, 0);
    EXPECT_EQ(std::string(entry.Name), std::string(63, 'n'));

    // A zero byte ends the line.
    EXPECT_FALSE(ParseHiscoreLine(std::string("A;1;1;3\0;2;4;6", 14), entry));
}

TEST(HiscoreFile, SixLinesFillTheTable)
{
    HiscoreEntry table[HiscoreRecords];
    const HiscoreRead read = ParseHiscoreData(SixLines(ValidLine("Ann Lee", 123456)) + "trailing junk", table);
    EXPECT_EQ(read.Lines, 6);
    EXPECT_TRUE(read.FirstComplete);
    EXPECT_STREQ(table[0].Name, "Ann Lee");
    EXPECT_EQ(table[0].Score, 123456);
    EXPECT_STREQ(table[5].Name, "P5");
    EXPECT_EQ(table[5].Score, 500);
}

TEST(HiscoreFile, BrokenFilesStopSafely)
{
    struct Case { std::string data; int lines; bool first; std::string name0; int64_t score0; };
    const std::string ann = ValidLine("Ann", 50);
    const Case cases[] = {
        {"", 0, false, "", 0},
        {ann, 1, true, "Ann", 50},                            // no CR at all
        {ann + "\r", 1, true, "Ann", 50},                     // CR as the last byte
        {ann + "\r\n" + ann + "\r\n", 2, true, "Ann", 50},    // two lines only
        {"\r\n" + ann, 2, false, "", 0},                      // empty first line
        {"A;1;2\r\n" + ann, 2, false, "A", 0},                // first line short of fields
        {ann + "\r" + ann, 2, true, "Ann", 50},               // bare CR
        {std::string(5000, 'x') + "\r\n" + ann, 2, false, std::string(63, 'x'), 0},   // overlong line
    };
    for (const Case& c : cases) {
        HiscoreEntry table[HiscoreRecords];
        for (HiscoreEntry& e : table) {
            e.Name[0] = 'z';
            e.Score = -1;
        }
        const HiscoreRead read = ParseHiscoreData(c.data, table);
        EXPECT_EQ(read.Lines, c.lines) << c.data.substr(0, 40);
        EXPECT_EQ(read.FirstComplete, c.first) << c.data.substr(0, 40);
        if (c.lines > 0) {
            EXPECT_EQ(std::string(table[0].Name), c.name0);
            EXPECT_EQ(table[0].Score, c.score0);
        }
        for (int i = c.lines; i < HiscoreRecords; ++i) {
            EXPECT_STREQ(table[i].Name, "") << i;
            EXPECT_EQ(table[i].Score, 0) << i;
        }
    }
}

TEST(HiscoreQuery, EscapedFieldsAndSignedScore)
{
    EXPECT_EQ(HiscoreQuery("Ann Lee", 123456, ""), "?data=Ann%20Lee;123456;");
    EXPECT_EQ(HiscoreQuery("O'Hara", -5, "a@b.de"), "?data=OHara;-5;a%40b%2ede");
    EXPECT_EQ(HiscoreQuery("J\xfcrgen", INT64_MIN, ""), "?data=J%fcrgen;-9223372036854775808;");
}

TEST(RankMessage, ChoiceAndSubstitution)
{
    struct Case { const char* body; int id; };
    const Case cases[] = {
        {"21", IDS_RANK}, {"20", IDS_RANK_TOP}, {"1", IDS_RANK_TOP}, {"0", IDS_RANK_TOP},
        {"-3", IDS_RANK_TOP}, {"17\n", IDS_RANK_TOP}, {"abc", IDS_RANK_TOP}, {" 999", IDS_RANK},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RankMessageId(c.body), c.id) << c.body;

    EXPECT_EQ(RankMessage("You are on position %s of it!", "17\n"), "You are on position 17\n of it!");
    // The body is text, never a format.
    EXPECT_EQ(RankMessage("At %s.", "%s%n%d"), "At %s%n%d.");
    EXPECT_EQ(RankMessage("no marker", "5"), "no marker");

    const std::string cut = RankMessage("Rank %s!", std::string(2000, '9'));
    EXPECT_EQ(cut.size(), RankMessageSize - 1);
    EXPECT_EQ(cut.substr(0, 6), "Rank 9");
}
