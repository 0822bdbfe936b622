#include "online/http_text.h"

#include "app/base/ascii_text.h"

namespace {
bool IsLetter(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
}

std::string EncodeField(std::string_view text)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() * 3);
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '\'' || c == '"')
            continue;
        if (IsLetter(c)) {
            out += ch;
            continue;
        }
        out += '%';
        out += hex[c >> 4];
        out += hex[c & 0x0f];
    }
    return out;
}

std::optional<TagSpan> FindTag(std::string_view text, std::string_view name)
{
    std::size_t from = 0;
    for (;;) {
        const std::size_t open = text.find('<', from);
        if (open == std::string_view::npos)
            return std::nullopt;
        const std::size_t close = text.find('>', open);
        if (close == std::string_view::npos)
            return std::nullopt;
        if (EqualNoCase(text.substr(open + 1, close - open - 1), name))
            return TagSpan{open, close};
        from = close;
    }
}

bool FindTitle(std::string_view body, std::string& title)
{
    const std::optional<TagSpan> opening = FindTag(body, "title");
    if (!opening)
        return false;
    const std::optional<TagSpan> closing = FindTag(body, "/title");
    if (!closing)
        return false;
    const std::size_t begin = opening->Close + 1;
    const std::size_t end = closing->Open > opening->Close ? closing->Open : body.size();
    title.assign(body.substr(begin, end - begin));
    return true;
}

namespace {
bool IsPlainText(std::string_view contentType)
{
    constexpr std::string_view plain = "text/plain";
    const std::size_t start = contentType.find_first_not_of(' ');
    if (start == std::string_view::npos || contentType.size() - start < plain.size())
        return false;
    const std::string_view type = contentType.substr(start, plain.size());
    const std::string_view rest = contentType.substr(start + plain.size());
    return EqualNoCase(type, plain) && (rest.empty() || rest[0] == ';' || rest[0] == ' ');
}

// The server's text goes into the box as text: control characters (line breaks that would
// forge further lines of the box among them) and bytes outside ASCII are dropped.
std::string PrintableFirstLine(std::string_view body)
{
    const std::string_view line = body.substr(0, body.find_first_of("\r\n"));
    std::string out;
    for (char ch : line) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7f)
            out += ch;
        if (out.size() == ReasonLength)
            break;
    }
    return out;
}
}

std::string RefusalText(std::string_view statusLine, std::string_view contentType, std::string_view body)
{
    std::string text = PrintableFirstLine(statusLine);
    if (!IsPlainText(contentType) || body.size() > ShortBodyLength)
        return text;
    const std::string reason = PrintableFirstLine(body);
    if (!reason.empty())
        text += "\r\n" + reason;
    return text;
}
