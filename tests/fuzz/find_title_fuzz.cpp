// A web answer as any bytes: is it an error page, and what is its title?
#include <cstdint>
#include <cstdlib>
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

// A tag found is one whose brackets hold exactly the name.
void CheckTag(std::string_view body, const std::string& lower, std::string_view name)
{
    const std::optional<TagSpan> tag = FindTag(body, name);
    const std::string wanted = "<" + std::string(name) + ">";
    if (!tag) {
        // Without a match, the bracketed name can only stand behind a "<" that a tag scan
        // paired with a later ">", so plain texts with the tag and no stray "<" always match.
        if (lower.find('<') == lower.rfind('<'))
            Check(lower.find(wanted) == std::string::npos);
        return;
    }
    Check(tag->Open < tag->Close && tag->Close < body.size());
    Check(lower.compare(tag->Open, tag->Close - tag->Open + 1, wanted) == 0);
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
    const std::optional<TagSpan> opening = FindTag(body, "title");
    const std::optional<TagSpan> closing = FindTag(body, "/title");
    Check(found == (opening && closing));
    if (!found) {
        Check(title == "stale");
        return 0;
    }
    // The title is the body's own bytes from just after the opening tag. It stops only where
    // a closing tag begins; it runs to the end only when the first closing tag came earlier.
    const std::size_t start = opening->Close + 1;
    Check(body.substr(start).substr(0, title.size()) == title);
    const std::size_t stop = start + title.size();
    if (stop < body.size())
        Check(stop == closing->Open);
    if (closing->Open > opening->Close)
        Check(stop == closing->Open);
    else
        Check(stop == body.size());
    return 0;
}
