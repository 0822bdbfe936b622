// The summary block of a .plane design file and a design as listed. No <windows.h> here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A design's seven numbers, declared in their one order: the order of the file, of a catalogue
// answer's line and of the registration query. PlaneNumberFields walks them in that order.
struct PlaneNumbers {
    int32_t Costs = 0, Weight = 0, Consumption = 0, Noise = 0, Reliability = 0, Velocity = 0, Range = 0;
};
using PlaneNumberField = int32_t PlaneNumbers::*;
constexpr PlaneNumberField PlaneNumberFields[] = {&PlaneNumbers::Costs,       &PlaneNumbers::Weight,
                                                  &PlaneNumbers::Consumption, &PlaneNumbers::Noise,
                                                  &PlaneNumbers::Reliability, &PlaneNumbers::Velocity,
                                                  &PlaneNumbers::Range};
static_assert(sizeof(PlaneNumbers) == sizeof PlaneNumberFields / sizeof PlaneNumberFields[0] * sizeof(int32_t),
              "every number has its field");

// The file's first bytes as read: N, the seven numbers, then N - 28 bytes of name.
// Room for N up to 1051, followed by one zero byte.
struct PlaneHeader : PlaneNumbers {
    uint32_t Length = 0;
    char Name[1024] = {};
};
constexpr uint32_t PlaneHeaderMaxLength = 1051;
static_assert(sizeof(PlaneHeader) == 4 + PlaneHeaderMaxLength + 1, "header buffer layout");

// One design in a list; a plain value copied whole into and out of containers.
struct PlaneEntry : PlaneNumbers {
    char Name[1024] = {};
    char FileName[64] = {};
    char ExtraText[128] = {};
};
static_assert(sizeof(PlaneEntry) == 1244, "entry layout");

// Fills the header from the file's first bytes (as many as the file had, at most
// 4 + PlaneHeaderMaxLength). Missing bytes count as zero; a length above the room is cut to it.
void ParsePlaneHeader(const unsigned char* bytes, std::size_t size, PlaneHeader& header);

PlaneEntry PlaneEntryFromHeader(const PlaneHeader& header);

// Copies text into a fixed room, cut to fit with its terminator and at its first zero byte.
void CopyTextCut(char* room, std::size_t roomSize, std::string_view text);

// Base string ids of the rating words.
int NoiseRating(int32_t noise);
int ReliabilityRating(int32_t reliability);

// The eight columns of a plane row: the name, then the numbers in their own order, as decimal
// text or, where Rating is set, as a rating word.
struct PlaneColumn {
    int TitleId;
    int Width;
    PlaneNumberField Number;        // nullptr for the name
    int (*Rating)(int32_t value);   // base id of the word, or nullptr
};
constexpr int PlaneColumnCount = 8;
extern const PlaneColumn PlaneColumns[PlaneColumnCount];

// A cell of columns 1 to 7: a rating word's base id, or (WordId 0) a decimal text.
struct PlaneCell {
    int WordId = 0;
    std::string Text;
};
PlaneCell PlaneRowCell(const PlaneEntry& entry, int column);

// A catalogue file name that may be joined to the myPlanes folder: not empty, not "." or ".."
// (nor ending in a dot or blank, which Windows drops), without "\", "/", ":" or control characters,
// and not a device name such as CON or NUL.plane.
bool IsSafePlaneFileName(std::string_view name);
