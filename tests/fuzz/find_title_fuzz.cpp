// A web answer as any bytes: is it an error page, and what is its title? The answer is worked
// out a second way, by reading the lower-cased text once from the front, and both must agree.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "online/http_text.h"

namespace {
void Check(bool condition)
{
    if (!condition)
        std::abort();
}

std::string Lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// The tags as a reader meets them: a "<" opens one, the next ">" closes it, and a "<" inside
// an open tag is part of it. The first whose inside is exactly the name, or none.
std::optional<TagSpan> FirstTag(const std::string& lower, const std::string& name)
{
    std::optional<std::size_t> open;
    for (std::size_t at = 0; at < lower.size(); ++at) {
        if (!open && lower[at] == '<') {
            open = at;
        } else if (open && lower[at] == '>') {
            if (lower.compare(*open + 1, at - *open - 1, name) == 0)
                return TagSpan{*open, at};
            open.reset();
        }
    }
    return std::nullopt;
}

void CheckTag(std::string_view body, const std::string& lower, const std::string& name)
{
    const std::optional<TagSpan> found = FindTag(body, name);
    const std::optional<TagSpan> expected = FirstTag(lower, name);
    Check(found.has_value() == expected.has_value());
    if (found)
        Check(found->Open == expected->Open && found->Close == expected->Close);
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const std::string lower = Lower(body);
    CheckTag(body, lower, "title");
    CheckTag(body, lower, "/title");

    std::string title = "stale";
    const bool found = FindTitle(body, title);
    const std::optional<TagSpan> opening = FirstTag(lower, "title");
    const std::optional<TagSpan> closing = FirstTag(lower, "/title");
    Check(found == (opening && closing));
    if (!found) {
        Check(title == "stale");
        return 0;
    }
    // From just after the opening tag to where the closing tag begins, or to the end when the
    // first closing tag came before it; the body's own bytes, unchanged.
    const std::size_t begin = opening->Close + 1;
    const std::size_t end = closing->Open > opening->Close ? closing->Open : body.size();
    Check(title == body.substr(begin, end - begin));
    return 0;
}
