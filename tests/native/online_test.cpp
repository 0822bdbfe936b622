// The portable logic of online/: query escaping, error pages and refusals, the hiscore file and
// query, the rank message, the design registration's query and the error box's text.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "online/error_text.h"
#include "online/hiscore_file.h"
#include "online/http_text.h"
#include "online/plane_register.h"

// ---- Escaping, error pages, refusals

TEST(EncodeField, EscapesEverythingButLetters)
{
    struct Case { std::string in; const char* out; };
    const Case cases[] = {
        {"Ann Lee", "Ann%20Lee"},
        {"R-2", "R%2d%32"},
        {"\xe4", "%e4"},
        {"\xff\x01", "%ff%01"},
        {"a@b.de", "a%40b%2ede"},
        {"O'Neil \"Ace\"", "ONeil%20Ace"},
        {"'\"''\"", ""},
        {"", ""},
        {"x;y&z=?", "x%3by%26z%3d%3f"},
        {std::string("a\0b", 3), "a%00b"},
        {"AZaz", "AZaz"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EncodeField(c.in), c.out) << c.in;
}

TEST(EncodeField, AtMostThreeBytesPerInputByte)
{
    std::string every;
    for (int b = 0; b < 256; ++b)
        every += static_cast<char>(b);
    const std::string out = EncodeField(every);
    // 52 letters copied, 2 quotes dropped, 202 bytes as three characters each.
    EXPECT_EQ(out.size(), 52u + 202u * 3u);
}

TEST(FindTag, MatchesOnlyTheBareNameInAnyCase)
{
    struct Case { const char* text; const char* name; bool found; std::size_t open, close; };
    const Case cases[] = {
        {"<title>", "title", true, 0, 6},
        {"ab<TiTlE>x", "title", true, 2, 8},
        {"<b>x</b><title>", "title", true, 8, 14},
        {"<title lang=\"en\">x", "title", false, 0, 0},
        {"< title>", "title", false, 0, 0},
        {"<title", "title", false, 0, 0},
        {"no tags", "title", false, 0, 0},
        {"</title>", "/title", true, 0, 7},
        {"<a<title>", "title", false, 0, 0},   // the search goes on after the first ">"
        {"<>", "", true, 0, 1},
    };
    for (const Case& c : cases) {
        const auto span = FindTag(c.text, c.name);
        ASSERT_EQ(span.has_value(), c.found) << c.text;
        if (span) {
            EXPECT_EQ(span->Open, c.open) << c.text;
            EXPECT_EQ(span->Close, c.close) << c.text;
        }
    }
}

TEST(FindTitle, ErrorPagesAndPlainAnswers)
{
    struct Case { const char* body; bool found; const char* title; };
    const Case cases[] = {
        {"<html><head><title>404 Not Found</title></head></html>", true, "404 Not Found"},
        {"<TITLE>x</TITLE>", true, "x"},
        {"<title lang=\"en\">x</title>", false, ""},
        {"17", false, ""},
        {"", false, ""},
        {"<title>x", false, ""},
        {"<title>x</title", false, ""},
        {"a</title>b<title>rest", true, "rest"},
        {"<title> &amp; </title>", true, " &amp; "},
        {"<title></title>", true, ""},
    };
    for (const Case& c : cases) {
        std::string title = "unchanged";
        EXPECT_EQ(FindTitle(c.body, title), c.found) << c.body;
        if (c.found) {
            EXPECT_EQ(title, c.title) << c.body;
        }
    }
}

TEST(FindTitle, LongBodies)
{
    // Far beyond what a 16-bit position could hold.
    std::string body(200000, 'x');
    body += "<title>deep</title>";
    std::string title;
    ASSERT_TRUE(FindTitle(body, title));
    EXPECT_EQ(title, "deep");

    const auto span = FindTag(body, "/title");
    ASSERT_TRUE(span.has_value());
    EXPECT_EQ(span->Open, 200000u + 11u);
}

TEST(RefusalText, StatusLineAndTheFirstLineOfAShortPlainBody)
{
    struct Case { const char* status; const char* type; std::string body; std::string shown; };
    const std::string cap(ReasonLength, 'r');
    const Case cases[] = {
        {"409 Conflict", "text/plain; charset=windows-1252", "file is already registered\n",
         "409 Conflict\r\nfile is already registered"},
        {"400 Bad Request", "TEXT/PLAIN", "first\r\nsecond\n", "400 Bad Request\r\nfirst"},
        {"400 Bad Request", "text/plain", "%s%n 100% \x01tab\there \xe4", "400 Bad Request\r\n%s%n 100% tabhere "},
        {"400 Bad Request", "text/plain", cap + "tail", "400 Bad Request\r\n" + cap},
        // Not plain text, too long, or empty: the status line alone.
        {"404 Not Found", "text/html", "<h1>Not Found</h1>", "404 Not Found"},
        {"404 Not Found", "text/plainish", "x", "404 Not Found"},
        {"404 Not Found", "", "x", "404 Not Found"},
        {"500 Internal Server Error", "text/plain", std::string(ShortBodyLength + 1, 'x'), "500 Internal Server Error"},
        {"500 Internal Server Error", "text/plain", "\n", "500 Internal Server Error"},
        // The server's status text is its own too: it cannot forge a line of the box.
        {"403 Go\r\nLine:\t1", "text/plain", "", "403 Go"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RefusalText(c.status, c.type, c.body), c.shown) << c.status << " / " << c.body;
}

// ---- The hiscore file, its query and the rank message

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

// ---- The design registration's query

namespace {
PlaneHeader Design(const char* name, std::initializer_list<int32_t> numbers)
{
    PlaneHeader header;
    int32_t* fields[] = {&header.Costs, &header.Weight, &header.Consumption, &header.Noise,
                         &header.Reliability, &header.Velocity, &header.Range};
    int i = 0;
    for (int32_t number : numbers)
        *fields[i++] = number;
    std::strcpy(header.Name, name);
    return header;
}
}

TEST(RegisterPlaneQuery, FieldsInFileOrder)
{
    struct Case { PlaneHeader header; const char* server; const char* mail; const char* query; };
    const Case cases[] = {
        {Design("Sky Jet", {1000, 2000, 30, 40, 50, 800, 5000}), "S", "",
         "?data=1000;2000;30;40;50;800;5000;Sky%20Jet;S;"},
        {Design("Semi;colon", {-1, -2, -3, -4, -5, -6, -2147483647 - 1}), "ab12cd.plane", "me@x.org",
         "?data=-1;-2;-3;-4;-5;-6;-2147483648;Semi%3bcolon;ab12cd.plane;me%40x%2eorg"},
        {Design("O'Ha\"re", {0, 0, 0, 0, 0, 0, 0}), "f.plane", "",
         "?data=0;0;0;0;0;0;0;OHare;f.plane;"},
    };
    for (const Case& c : cases) {
        const std::string query = RegisterPlaneQuery(c.header, c.server, c.mail);
        EXPECT_EQ(query, c.query);
        EXPECT_EQ(std::count(query.begin(), query.end(), ';'), 9) << query;
    }
}

TEST(RegisterPlaneQuery, NameWithoutTerminatorStaysInItsRoom)
{
    PlaneHeader header;
    std::memset(header.Name, 'a', sizeof header.Name);
    const std::string query = RegisterPlaneQuery(header, "s.plane", "");
    EXPECT_EQ(query, "?data=0;0;0;0;0;0;0;" + std::string(1024, 'a') + ";s.plane;");
}

// ---- The error box's text

namespace {
ErrorTextParts EnglishParts(std::string value, const char* file)
{
    ErrorTextParts parts;
    parts.Message = "An error occured during the the data transfer.";
    parts.ErrorWord = "Error:";
    parts.Value = std::move(value);
    parts.Line = 217;
    parts.File = file;
    parts.LineLabel = "Line:";
    parts.FileLabel = "File:";
    return parts;
}
}

TEST(ErrorText, ComposedLikeTheBox)
{
    const std::string head = "An error occured during the the data transfer.\r\n\r\nError:\t";
    struct Case { std::string value; const char* file; const char* tail; };
    const Case cases[] = {
        {ErrorCodeText(6), "starter", "6\r\nLine:\t217\r\nFile:\tstarter"},
        {ErrorCodeText(0), "starter", "0\r\nLine:\t217\r\nFile:\tstarter"},
        {ErrorCodeText(-12029), "starter", "-12029\r\nLine:\t217\r\nFile:\tstarter"},
        {ErrorCodeText(INT32_MIN), "starter", "-2147483648\r\nLine:\t217\r\nFile:\tstarter"},
        {ErrorCodeText(126), "C:\\src\\app/starter", "126\r\nLine:\t217\r\nFile:\tstarter"},
        {ErrorCodeText(126), "C:/src/app\\starter.cpp", "126\r\nLine:\t217\r\nFile:\tstarter.cpp"},
        {ErrorCodeText(126), "C:\\src\\", "126\r\nLine:\t217\r\nFile:\t"},
        {"500 Internal\r\nServer Error\n", "starter", "500 Internal\r\nServer Error\n\r\nLine:\t217\r\nFile:\tstarter"},
        {"", "", "\r\nLine:\t217\r\nFile:\t"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ComposeErrorText(EnglishParts(c.value, c.file)), head + c.tail) << c.file;

    // Another language's message and word; the line as given, even a negative one.
    ErrorTextParts parts = EnglishParts("0", "starter");
    parts.Message = "Le jeu Skyvora n'a pas \xE9t\xE9 trouv\xE9.";
    parts.ErrorWord = "Erreur :";
    parts.Line = -218;
    EXPECT_EQ(ComposeErrorText(parts),
              "Le jeu Skyvora n'a pas \xE9t\xE9 trouv\xE9.\r\n\r\nErreur :\t0\r\nLine:\t-218\r\nFile:\tstarter");
}
