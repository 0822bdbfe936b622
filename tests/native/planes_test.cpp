// The portable logic of planes/: the design file's summary block, rows and rating words,
// catalogue file names, the catalogue answer.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "planes/catalogue_text.h"
#include "planes/plane_file.h"
#include "res/resource.h"

// ---- Design files and rows

namespace {
void Put32(std::vector<unsigned char>& bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// N, then the seven numbers 1..7 (negated when asked), then the name bytes.
std::vector<unsigned char> Block(uint32_t length, const std::string& name, bool negative = false)
{
    std::vector<unsigned char> bytes;
    Put32(bytes, length);
    for (int i = 1; i <= 7; ++i)
        Put32(bytes, static_cast<uint32_t>(negative ? -i : i));
    bytes.insert(bytes.end(), name.begin(), name.end());
    return bytes;
}

PlaneHeader Parse(const std::vector<unsigned char>& bytes)
{
    PlaneHeader header;
    std::memset(static_cast<void*>(&header), 0x55, sizeof(header));   // stale bytes must not survive
    ParsePlaneHeader(bytes.data(), bytes.size(), header);
    return header;
}
}

TEST(PlaneHeader, LengthZeroGivesAnEmptyDesign)
{
    const PlaneHeader header = Parse(Block(0, std::string("Jet\0", 4)));
    EXPECT_EQ(header.Length, 0u);
    EXPECT_EQ(header.Costs, 0);
    EXPECT_EQ(header.Range, 0);
    EXPECT_STREQ(header.Name, "");
}

TEST(PlaneHeader, FortyByteExampleStopsTheNameAtItsZero)
{
    const std::vector<unsigned char> bytes = Block(36, std::string("Sky\0WXYZ", 8), true);
    ASSERT_EQ(bytes.size(), 40u);
    const PlaneHeader header = Parse(bytes);
    EXPECT_STREQ(header.Name, "Sky");
    const PlaneEntry entry = PlaneEntryFromHeader(header);
    EXPECT_STREQ(entry.Name, "Sky");
    const int32_t numbers[] = {entry.Costs, entry.Weight, entry.Consumption, entry.Noise,
                               entry.Reliability, entry.Velocity, entry.Range};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(numbers[i], -(i + 1)) << "number " << i;
    EXPECT_STREQ(entry.FileName, "");
    EXPECT_STREQ(entry.ExtraText, "");
}

TEST(PlaneHeader, NameWithoutZeroEndsAtTheBlock)
{
    // N = 28 + 5: the name is "Eagle"; the file goes on with the rest of the design.
    const PlaneHeader header = Parse(Block(33, "EagleBODYBYTES"));
    EXPECT_STREQ(header.Name, "Eagle");
    EXPECT_EQ(header.Range, 7);
}

TEST(PlaneHeader, ShortBlocksFillOnlyWhatTheyCover)
{
    // N = 10 covers Costs, Weight and the two low bytes of Consumption.
    std::vector<unsigned char> bytes = Block(10, "Name");
    const PlaneHeader header = Parse(bytes);
    EXPECT_EQ(header.Costs, 1);
    EXPECT_EQ(header.Weight, 2);
    EXPECT_EQ(header.Consumption, 3);
    EXPECT_EQ(header.Noise, 0);
    EXPECT_EQ(header.Range, 0);
    EXPECT_STREQ(header.Name, "");

    // The file itself ends early: N says 40, the file holds 6 bytes after it.
    bytes = Block(40, "");
    bytes.resize(10);
    bytes[8] = 0xff;   // only two bytes of Weight are there
    const PlaneHeader cut = Parse(bytes);
    EXPECT_EQ(cut.Costs, 1);
    EXPECT_EQ(cut.Weight, 0xff);
    EXPECT_EQ(cut.Consumption, 0);
    EXPECT_STREQ(cut.Name, "");

    // Not even the length field is complete.
    const unsigned char two[] = {5, 0};
    PlaneHeader tiny;
    ParsePlaneHeader(two, sizeof(two), tiny);
    EXPECT_EQ(tiny.Length, 5u);
    EXPECT_EQ(tiny.Costs, 0);
}

TEST(PlaneHeader, LengthAboveTheRoomIsCut)
{
    const std::string longName(2000, 'n');
    for (uint32_t length : {1051u, 1052u, 0xffffffffu}) {
        const PlaneHeader header = Parse(Block(length, longName));
        EXPECT_EQ(header.Length, 1051u) << length;
        EXPECT_EQ(std::strlen(header.Name), 1023u) << length;
        EXPECT_EQ(header.Range, 7) << length;
        EXPECT_EQ(std::strlen(PlaneEntryFromHeader(header).Name), 1023u) << length;
    }
}

TEST(PlaneRating, ThresholdsAtEveryBorder)
{
    struct Case { int32_t value; int word; };
    const Case noise[] = {
        {INT32_MIN, 42}, {-5, 42}, {0, 42}, {1, 43}, {20, 43}, {21, 44}, {40, 44}, {41, 45}, {60, 45},
        {61, 46}, {80, 46}, {81, 47}, {100, 47}, {101, 48}, {INT32_MAX, 48},
    };
    for (const Case& c : noise)
        EXPECT_EQ(NoiseRating(c.value), 10000 + c.word) << "noise " << c.value;
    const Case reliability[] = {
        {INT32_MIN, 49}, {-31, 49}, {-30, 49}, {-29, 50}, {-20, 50}, {-19, 51}, {-10, 51}, {-9, 52},
        {-1, 52}, {0, 53}, {20, 53}, {21, 54}, {50, 54}, {51, 55}, {80, 55}, {81, 56}, {110, 56},
        {111, 57}, {INT32_MAX, 57},
    };
    for (const Case& c : reliability)
        EXPECT_EQ(ReliabilityRating(c.value), 10000 + c.word) << "reliability " << c.value;
}

TEST(PlaneRow, CellsFollowTheColumnOrder)
{
    PlaneEntry entry;
    entry.Costs = 1000;
    entry.Weight = -2000;
    entry.Consumption = 30;
    entry.Noise = 21;
    entry.Reliability = -30;
    entry.Velocity = 800;
    entry.Range = 5000;
    const char* texts[] = {"", "30", "1000", "800", "", "", "-2000", "5000"};
    const int words[] = {0, 0, 0, 0, IDS_NOISE_FIRST + 2, IDS_RELIABILITY_FIRST, 0, 0};
    for (int column = 1; column < PlaneColumnCount; ++column) {
        const PlaneCell cell = PlaneRowCell(entry, column);
        EXPECT_EQ(cell.Text, texts[column]) << column;
        EXPECT_EQ(cell.WordId, words[column]) << column;
    }
}

TEST(PlaneFileName, RefusesNamesThatLeaveTheFolder)
{
    const char* refused[] = {"", ".", "..", "..\\x.plane", "C:x.plane", "a/b.plane", "a\\b", "x\t.plane",
                             "x\r", "\x7f", "...", ".. ", "x.plane.",
                             "CON", "nul.plane", "Com1.plane", "LPT9", "aux .plane", "conin$.plane",
                             ".x", "desktop.ini", "run.exe", "x.plane.exe", "xplane", "x.plan", "x.plane "};
    for (const char* name : refused)
        EXPECT_FALSE(IsSafePlaneFileName(name)) << name;
    EXPECT_FALSE(IsSafePlaneFileName(std::string_view("a\0b", 3)));
    const char* accepted[] = {"5eed0001.plane", "x..plane", "Design 1.plane", "\xe4.plane", "X.PLANE", "a.Plane",
                              "CONSOLE.plane", "COM0.plane", "com10.plane", "nul_.plane", "ffffffffffffffffffffffff.plane"};
    for (const char* name : accepted)
        EXPECT_TRUE(IsSafePlaneFileName(name)) << name;
}

TEST(PlaneFileName, DownloadTemporaryNames)
{
    for (const char* name : {"skv1.tmp", "skvA2f.tmp", "SKV0000.TMP", "skvffff.Tmp"})
        EXPECT_TRUE(IsDownloadTemporaryName(name)) << name;
    for (const char* name : {"skv.tmp", "skv12345.tmp", "skvg1.tmp", "skv1.tmp.plane", "askv1.tmp", "skv1.tm",
                             "x.plane", "skv 1.tmp"})
        EXPECT_FALSE(IsDownloadTemporaryName(name)) << name;
}

// ---- The catalogue answer

TEST(NextField, SplitsAtAnyDelimiterAndKeepsEmptyFields)
{
    FieldCursor cursor("a;;b\nc;");
    std::vector<std::string> fields;
    for (int i = 0; i < 7; ++i)
        fields.emplace_back(NextField(cursor, ";\n"));
    const std::vector<std::string> expected = {"a", "", "b", "c", "", "", ""};
    EXPECT_EQ(fields, expected);
}

TEST(NextField, LastFieldRunsToTheEnd)
{
    FieldCursor cursor("17\nx;y");
    EXPECT_EQ(NextField(cursor, "\n"), "17");
    EXPECT_EQ(NextField(cursor, ";\n"), "x");
    EXPECT_EQ(NextField(cursor, ";\n"), "y");
    EXPECT_EQ(NextField(cursor, ";\n"), "");
    FieldCursor empty("");
    EXPECT_EQ(NextField(empty, ";"), "");
    EXPECT_EQ(NextField(empty, ";"), "");
}

namespace {
std::vector<PlaneEntry> Page(const std::string& body, int32_t from, int32_t& total, int32_t& end)
{
    std::vector<PlaneEntry> entries;
    end = ParseCataloguePage(body, from, CataloguePageSize, total, entries);
    return entries;
}
}

TEST(CataloguePage, FillsEntriesInAnswerOrder)
{
    int32_t total = 0, end = 0;
    const auto entries = Page("2\nJet;ab12.plane;me@x;1000;2000;30;-40;50;800;5000\nKite;f.plane;;1;2;3;4;5;6;7\n",
                              0, total, end);
    EXPECT_EQ(total, 2);
    EXPECT_EQ(end, 2);
    ASSERT_EQ(entries.size(), 2u);
    const PlaneEntry& jet = entries[0];
    EXPECT_STREQ(jet.Name, "Jet");
    EXPECT_STREQ(jet.FileName, "ab12.plane");
    EXPECT_STREQ(jet.ExtraText, "me@x");
    const int32_t numbers[] = {jet.Costs, jet.Weight, jet.Consumption, jet.Noise, jet.Reliability, jet.Velocity,
                               jet.Range};
    const int32_t expected[] = {1000, 2000, 30, -40, 50, 800, 5000};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(numbers[i], expected[i]) << i;
    EXPECT_STREQ(entries[1].Name, "Kite");
    EXPECT_STREQ(entries[1].ExtraText, "");
    EXPECT_EQ(entries[1].Range, 7);
}

TEST(CataloguePage, CarriageReturnLineEndsReadLikeLineFeeds)
{
    int32_t total = 0, end = 0;
    const auto entries = Page("2\r\nA;a.plane;;1;2;3;4;5;6;7\r\nB;b.plane;;8;9;10;11;12;13;14\r\n", 0, total, end);
    EXPECT_EQ(total, 2);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_STREQ(entries[1].Name, "B");
    EXPECT_EQ(entries[0].Range, 7);
    EXPECT_EQ(entries[1].Costs, 8);
    EXPECT_EQ(entries[1].Range, 14);
}

TEST(CataloguePage, SemicolonInANameShiftsTheFields)
{
    int32_t total = 0, end = 0;
    const auto entries = Page("2\nSemi;colon;f1.plane;m;1;2;3;4;5;6;7\nNext;f2.plane;;8;9;10;11;12;13;14\n", 0, total,
                              end);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_STREQ(entries[0].Name, "Semi");
    EXPECT_STREQ(entries[0].FileName, "colon");
    EXPECT_STREQ(entries[0].ExtraText, "f1.plane");
    EXPECT_EQ(entries[0].Costs, 0);   // "m"
    EXPECT_EQ(entries[0].Range, 6);
    // The line's last field starts the next entry, which is one field late from then on.
    EXPECT_STREQ(entries[1].Name, "7");
    EXPECT_STREQ(entries[1].FileName, "Next");
    EXPECT_STREQ(entries[1].ExtraText, "f2.plane");
    EXPECT_EQ(entries[1].Costs, 0);
    EXPECT_EQ(entries[1].Weight, 8);
}

TEST(CataloguePage, ShortAndEmptyAnswers)
{
    int32_t total = 0, end = 0;
    auto entries = Page("40\nA;a.plane;;1;2;3;4;5;6;7\n", 0, total, end);
    EXPECT_EQ(total, 40);
    EXPECT_EQ(end, 17);
    ASSERT_EQ(entries.size(), 17u);
    EXPECT_STREQ(entries[0].Name, "A");
    EXPECT_STREQ(entries[16].Name, "");
    EXPECT_EQ(entries[16].Noise, 0);

    total = 0;
    entries = Page("0\n", 0, total, end);
    EXPECT_EQ(total, 0);
    EXPECT_EQ(end, 0);
    EXPECT_TRUE(entries.empty());
}

TEST(CataloguePage, LaterPagesKeepTheFirstTotal)
{
    int32_t total = 40, end = 0;
    const auto entries = Page("99\n", 34, total, end);
    EXPECT_EQ(total, 40);
    EXPECT_EQ(end, 40);
    EXPECT_EQ(entries.size(), 6u);
}

TEST(CataloguePage, LongTextsAreCutToTheirRoom)
{
    const std::string name(3000, 'n'), file(100, 'f'), extra(500, 'e');
    int32_t total = 0, end = 0;
    const auto entries = Page("1\n" + name + ";" + file + ";" + extra + ";1;2;3;4;5;6;77\n", 0, total, end);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(std::strlen(entries[0].Name), 1023u);
    EXPECT_EQ(std::strlen(entries[0].FileName), 63u);
    EXPECT_EQ(std::strlen(entries[0].ExtraText), 127u);
    EXPECT_EQ(entries[0].Range, 77);
}
