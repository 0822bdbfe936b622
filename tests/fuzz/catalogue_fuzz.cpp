// A catalogue answer as any bytes, split into the entries of one page.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/base/text_number.h"
#include "planes/catalogue_text.h"

namespace {
void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// The fields of a catalogue answer, split here byte by byte: the first line, then every field
// up to a ";" or a line end; past the last one, every field reads as empty.
struct Fields {
    std::string First;
    std::vector<std::string> Rest;
    std::string At(std::size_t index) const { return index < Rest.size() ? Rest[index] : std::string(); }
};

Fields Split(const std::string& body)
{
    Fields fields;
    std::size_t i = 0;
    while (i < body.size() && body[i] != '\n')
        fields.First += body[i++];
    if (i == body.size())
        return fields;   // no line end: no entry fields at all
    std::string current;
    for (++i; i < body.size(); ++i) {
        if (body[i] == ';' || body[i] == '\n') {
            fields.Rest.push_back(current);
            current.clear();
        } else {
            current += body[i];
        }
    }
    fields.Rest.push_back(current);
    return fields;
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

    const Fields fields = Split(body);
    Check(total == (knownTotal ? knownTotal : LeadingNumber32(fields.First)));

    const int64_t expectedEnd = std::max<int64_t>(from, std::min<int64_t>(int64_t(from) + CataloguePageSize, total));
    Check(end == expectedEnd);
    Check(entries.size() == static_cast<std::size_t>(end - from));

    for (std::size_t k = 0; k < entries.size(); ++k) {
        const PlaneEntry& entry = entries[k];
        const std::size_t base = 10 * k;
        Check(KeptAs(entry.Name, sizeof entry.Name, fields.At(base)));
        Check(KeptAs(entry.FileName, sizeof entry.FileName, fields.At(base + 1)));
        Check(KeptAs(entry.ExtraText, sizeof entry.ExtraText, fields.At(base + 2)));
        const int32_t numbers[] = {entry.Costs, entry.Weight, entry.Consumption, entry.Noise,
                                   entry.Reliability, entry.Velocity, entry.Range};
        for (int i = 0; i < 7; ++i)
            Check(numbers[i] == LeadingNumber32(fields.At(base + 3 + i)));

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
