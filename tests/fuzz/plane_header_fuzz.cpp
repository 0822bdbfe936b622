// A .plane file's first bytes, as many as the file has: the summary block and the list row.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "planes/plane_file.h"
#include "res/resource.h"

namespace {
void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// Byte i of the block as the file supplies it: zero past the file's end and past 4 + N.
uint8_t BlockByte(const uint8_t* data, std::size_t size, std::size_t limit, std::size_t i)
{
    return i < size && i < limit ? data[i] : 0;
}

int32_t BlockNumber(const uint8_t* data, std::size_t size, std::size_t limit, std::size_t at)
{
    uint32_t value = 0;
    for (int b = 3; b >= 0; --b)
        value = value << 8 | BlockByte(data, size, limit, at + b);
    return static_cast<int32_t>(value);
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    PlaneHeader header;
    std::memset(&header, 0x5a, sizeof header);   // stale bytes must not survive
    ParsePlaneHeader(data, size, header);

    uint32_t length = 0;
    for (int b = 3; b >= 0; --b)
        length = length << 8 | BlockByte(data, size, 4, b);
    const uint32_t kept = length < PlaneHeaderMaxLength ? length : PlaneHeaderMaxLength;
    const std::size_t limit = 4 + std::size_t(kept);
    Check(header.Length == kept);

    const int32_t numbers[] = {header.Costs, header.Weight, header.Consumption, header.Noise,
                               header.Reliability, header.Velocity, header.Range};
    for (int i = 0; i < 7; ++i)
        Check(numbers[i] == BlockNumber(data, size, limit, 4 + 4 * i));

    std::string name;
    for (std::size_t i = 32; BlockByte(data, size, limit, i) != 0; ++i)
        name += static_cast<char>(data[i]);
    Check(strnlen(header.Name, sizeof header.Name) < sizeof header.Name);
    Check(name == header.Name);

    const PlaneEntry entry = PlaneEntryFromHeader(header);
    Check(name == entry.Name);
    Check(entry.FileName[0] == '\0' && entry.ExtraText[0] == '\0');
    Check(entry.Noise == header.Noise && entry.Reliability == header.Reliability && entry.Range == header.Range);
    for (int column = 1; column < PlaneColumnCount; ++column) {
        const PlaneCell cell = PlaneRowCell(entry, column);
        if (column == 4)
            Check(cell.WordId >= IDS_NOISE_FIRST && cell.WordId <= IDS_NOISE_FIRST + 6);
        else if (column == 5)
            Check(cell.WordId >= IDS_RELIABILITY_FIRST && cell.WordId <= IDS_RELIABILITY_FIRST + 8);
        else
            Check(cell.WordId == 0 && !cell.Text.empty() && cell.Text.size() <= 11);
    }
    return 0;
}
