#include "planes/catalogue_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

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
