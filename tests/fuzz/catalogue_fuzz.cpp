// A catalogue answer as any bytes, split into the entries of one page.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/text_number.h"
#include "planes/catalogue_text.h"

namespace {
void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// A text field as its room keeps it: cut at the first zero byte and to room - 1 characters.
bool KeptAs(const char* room, std::size_t roomSize, std::string_view field)
{
    const std::size_t length = strnlen(room, roomSize);
    if (length == roomSize)
        return false;
    const std::string_view kept = field.substr(0, std::min(field.find('\0'), roomSize - 1));
    return kept == std::string_view(room, length);
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    // The browser asks for whole pages from 0 on; the total is kept from the first page.
    const int32_t from = CataloguePageSize * input.ConsumeIntegralInRange<int32_t>(0, 5);
    int32_t total = input.ConsumeBool() ? input.ConsumeIntegral<int32_t>() : 0;
    const std::string body = input.ConsumeRemainingBytesAsString();

    const int32_t knownTotal = total;
    std::vector<PlaneEntry> entries;
    const int32_t end = ParseCataloguePage(body, from, CataloguePageSize, total, entries);

    // The fields as a plain walk over the text sees them: contiguous, free of delimiters.
    FieldCursor walk(body);
    const std::string_view first = NextField(walk, "\n");
    Check(first.data() == body.data() && first.find('\n') == std::string_view::npos);
    Check(total == (knownTotal ? knownTotal : LeadingNumber32(first)));

    const int64_t expectedEnd = std::max<int64_t>(from, std::min<int64_t>(int64_t(from) + CataloguePageSize, total));
    Check(end == expectedEnd);
    Check(entries.size() == static_cast<std::size_t>(end - from));

    std::size_t next = first.size() + 1;
    for (const PlaneEntry& entry : entries) {
        std::string_view fields[10];
        for (std::string_view& field : fields) {
            field = NextField(walk, ";\n");
            if (next <= body.size()) {
                Check(field.data() == body.data() + next);
                next += field.size() + 1;
            } else {
                Check(field.empty());
            }
            Check(field.find_first_of(";\n") == std::string_view::npos);
        }
        Check(KeptAs(entry.Name, sizeof entry.Name, fields[0]));
        Check(KeptAs(entry.FileName, sizeof entry.FileName, fields[1]));
        Check(KeptAs(entry.ExtraText, sizeof entry.ExtraText, fields[2]));
        const int32_t numbers[] = {entry.Costs, entry.Weight, entry.Consumption, entry.Noise,
                                   entry.Reliability, entry.Velocity, entry.Range};
        for (int i = 0; i < 7; ++i)
            Check(numbers[i] == LeadingNumber32(fields[3 + i]));

        // A file name let through is a plain name in myPlanes: no folder, drive or stream part,
        // and nothing that Windows would trim down to "." or "..".
        const std::string_view file(entry.FileName);
        if (IsSafePlaneFileName(file)) {
            Check(file.find_first_of("\\/:") == std::string_view::npos);
            const std::size_t last = file.find_last_not_of(". ");
            Check(last == file.size() - 1);
        }
    }
    return 0;
}
