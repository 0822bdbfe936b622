// Free text (a name, a design name, a mail address) escaped for a query.
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

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;   // upper-case digits are not what the server expects
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string escaped = EncodeField(text);
    Check(escaped.size() <= 3 * text.size());

    // Decoding gives the text back without its quotation marks and apostrophes, and nothing
    // but letters and %xx ever reaches the query, so no byte can end a field.
    std::string decoded;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        const char c = escaped[i];
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
            decoded += c;
            continue;
        }
        Check(c == '%' && i + 2 < escaped.size());
        const int high = HexValue(escaped[i + 1]), low = HexValue(escaped[i + 2]);
        Check(high >= 0 && low >= 0);
        const char byte = static_cast<char>(high * 16 + low);
        Check(!((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z')) && byte != '\'' && byte != '"');
        decoded += byte;
        i += 2;
    }
    std::string expected;
    for (char c : text)
        if (c != '\'' && c != '"')
            expected += c;
    Check(decoded == expected);
    return 0;
}
