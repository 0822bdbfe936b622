#include "planes/plane_file.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "app/base/ascii_text.h"
#include "res/resource.h"

namespace {
constexpr std::string_view TemporaryExtension = ".tmp";

uint32_t LittleEndian32(const unsigned char* bytes)
{
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}
}

void ParsePlaneHeader(const unsigned char* bytes, std::size_t size, PlaneHeader& header)
{
    // The block as it lies in the file, zero where the file supplies nothing.
    unsigned char block[sizeof(PlaneHeader)] = {};
    std::memcpy(block, bytes, std::min<std::size_t>(size, 4));
    const uint32_t length = std::min(LittleEndian32(block), PlaneHeaderMaxLength);
    if (size > 4)
        std::memcpy(block + 4, bytes + 4, std::min<std::size_t>(size - 4, length));
    block[4 + length] = 0;

    header = PlaneHeader{};
    header.Length = length;
    const unsigned char* number = block + 4;
    for (PlaneNumberField field : PlaneNumberFields) {
        header.*field = static_cast<int32_t>(LittleEndian32(number));
        number += 4;
    }
    std::memcpy(header.Name, number, sizeof(header.Name));
}

void CopyTextCut(char* room, std::size_t roomSize, std::string_view text)
{
    if (roomSize == 0)
        return;
    std::size_t length = std::min(text.size(), roomSize - 1);
    length = std::find(text.begin(), text.begin() + length, '\0') - text.begin();
    // A field past the end of an answer has no data at all: memcpy must not see its null pointer.
    if (length > 0)
        std::memcpy(room, text.data(), length);
    room[length] = '\0';
}

PlaneEntry PlaneEntryFromHeader(const PlaneHeader& header)
{
    PlaneEntry entry;
    CopyTextCut(entry.Name, sizeof(entry.Name), std::string_view(header.Name, sizeof(header.Name)));
    static_cast<PlaneNumbers&>(entry) = header;
    return entry;
}

int NoiseRating(int32_t noise)
{
    // Upper bounds of the first six words; above the last comes "very loud".
    static const int32_t bounds[] = {0, 20, 40, 60, 80, 100};
    int word = 0;
    while (word < 6 && noise > bounds[word])
        ++word;
    return IDS_NOISE_FIRST + word;
}

int ReliabilityRating(int32_t reliability)
{
    static const int32_t bounds[] = {-30, -20, -10, -1, 20, 50, 80, 110};
    int word = 0;
    while (word < 8 && reliability > bounds[word])
        ++word;
    return IDS_RELIABILITY_FIRST + word;
}

const PlaneColumn PlaneColumns[PlaneColumnCount] = {
    {IDS_COL_NAME, 100, nullptr, nullptr},
    {IDS_COL_CONSUMPTION, 60, &PlaneNumbers::Consumption, nullptr},
    {IDS_COL_COSTS, 60, &PlaneNumbers::Costs, nullptr},
    {IDS_COL_VELOCITY, 60, &PlaneNumbers::Velocity, nullptr},
    {IDS_COL_NOISE, 80, &PlaneNumbers::Noise, NoiseRating},
    {IDS_COL_RELIABILITY, 80, &PlaneNumbers::Reliability, ReliabilityRating},
    {IDS_COL_WEIGHT, 60, &PlaneNumbers::Weight, nullptr},
    {IDS_COL_RANGE, 80, &PlaneNumbers::Range, nullptr},
};

PlaneCell PlaneRowCell(const PlaneEntry& entry, int column)
{
    PlaneCell cell;
    if (column < 1 || column >= PlaneColumnCount)
        return cell;
    const PlaneColumn& shown = PlaneColumns[column];
    const int32_t value = entry.*shown.Number;
    if (shown.Rating)
        cell.WordId = shown.Rating(value);
    else
        cell.Text = std::to_string(value);
    return cell;
}

namespace {
// CON, NUL.plane, com1.x ... name devices, not files, in any folder.
bool IsDeviceName(std::string_view name)
{
    std::string base(name.substr(0, name.find('.')));
    for (char& c : base)
        c = UpperAscii(c);
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : devices)
        if (base == device)
            return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}
}

bool IsSafePlaneFileName(std::string_view name)
{
    // Windows drops trailing dots and blanks, so ".. " would still name the parent folder.
    if (name.empty() || name.back() == '.' || name.back() == ' ')
        return false;
    for (unsigned char c : name)
        if (c < 32 || c == 127 || c == '\\' || c == '/' || c == ':')
            return false;
    return EndsWithNoCase(name, ".plane") && !IsDeviceName(name);
}

bool IsDownloadTemporaryName(std::string_view name)
{
    const std::string_view prefix = DownloadTemporaryPrefix;
    if (name.size() < prefix.size() + TemporaryExtension.size() || !EqualNoCase(name.substr(0, prefix.size()), prefix) ||
        !EndsWithNoCase(name, TemporaryExtension))
        return false;
    // In between, one to four hexadecimal digits, as the system writes them.
    const std::string_view digits = name.substr(prefix.size(), name.size() - prefix.size() - TemporaryExtension.size());
    return !digits.empty() && digits.size() <= 4 &&
           std::all_of(digits.begin(), digits.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

std::string DownloadTemporaryPattern()
{
    return std::string(DownloadTemporaryPrefix) + "*" + std::string(TemporaryExtension);
}
