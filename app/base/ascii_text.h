// Case-insensitive comparison of ASCII text, for protocol words and file names. No <windows.h> here.
#pragma once
#include <cstddef>
#include <string_view>

inline char UpperAscii(char c)
{
    return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
}

inline bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i]))
            return false;
    return true;
}

inline bool EndsWithNoCase(std::string_view text, std::string_view tail)
{
    return text.size() >= tail.size() && EqualNoCase(text.substr(text.size() - tail.size()), tail);
}
