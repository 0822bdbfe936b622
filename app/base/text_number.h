// The leading decimal number of a text, as every parser of this program reads it. No <windows.h> here.
#pragma once
#include <cstdint>
#include <string_view>

// Skips leading white space, takes an optional sign, then decimal digits up to the first
// other character. No digits give 0. Values beyond the range saturate.
int64_t LeadingNumber64(std::string_view text);
int32_t LeadingNumber32(std::string_view text);
