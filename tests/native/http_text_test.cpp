#include "online/http_text.h"

#include <gtest/gtest.h>

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
