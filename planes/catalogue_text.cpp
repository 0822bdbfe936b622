#include "planes/catalogue_text.h"

#include <algorithm>

#include "app/base/text_number.h"

std::string_view NextField(FieldCursor& cursor, std::string_view delimiters)
{
    if (cursor.Next > cursor.Text.size())
        return {};
    const std::size_t start = cursor.Next;
    const std::size_t end = std::min(cursor.Text.find_first_of(delimiters, start), cursor.Text.size());
    cursor.Next = end + 1;
    return cursor.Text.substr(start, end - start);
}

PlaneEntry NextCatalogueEntry(FieldCursor& cursor)
{
    const std::string_view delimiters = ";\n";
    PlaneEntry entry;
    CopyTextCut(entry.Name, sizeof(entry.Name), NextField(cursor, delimiters));
    CopyTextCut(entry.FileName, sizeof(entry.FileName), NextField(cursor, delimiters));
    CopyTextCut(entry.ExtraText, sizeof(entry.ExtraText), NextField(cursor, delimiters));
    for (PlaneNumberField field : PlaneNumberFields)
        entry.*field = LeadingNumber32(NextField(cursor, delimiters));
    return entry;
}

int32_t ParseCataloguePage(std::string_view body, int32_t from, int32_t count, int32_t& total,
                           std::vector<PlaneEntry>& entries)
{
    FieldCursor cursor(body);
    const std::string_view first = NextField(cursor, "\n");
    if (total == 0)
        total = LeadingNumber32(first);
    // 64-bit bound, so that a page near the largest index cannot overflow.
    const int64_t end = std::min<int64_t>(int64_t(from) + count, total);
    int64_t i = from;
    for (; i < end; ++i)
        entries.push_back(NextCatalogueEntry(cursor));
    return static_cast<int32_t>(i);   // at most total, so it fits
}
