// Splitting a catalogue answer into design entries. No <windows.h> here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "planes/plane_file.h"
#include "res/layout.h"   // CataloguePageSize

// A position in the answer text; a fresh cursor starts at the text's beginning.
struct FieldCursor {
    explicit FieldCursor(std::string_view text) : Text(text) {}
    std::string_view Text;
    std::size_t Next = 0;   // just after the previous field's delimiter; past the end once the end was reached
};

// The characters up to the next delimiter (or the end of the text); empty once the end was reached.
std::string_view NextField(FieldCursor& cursor, std::string_view delimiters);

// Ten fields, ended by ";" or a line feed: three texts (cut to their room), seven numbers.
PlaneEntry NextCatalogueEntry(FieldCursor& cursor);

// The entries of the page [from, from + count) of an answer, as many as total allows.
// total, when still 0, is taken from the answer's first line. Returns the index after the last entry.
int32_t ParseCataloguePage(std::string_view body, int32_t from, int32_t count, int32_t& total,
                           std::vector<PlaneEntry>& entries);
