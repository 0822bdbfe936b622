// planes/: design files, catalogue, browser, FTP transfers; may include app/base/ res/ ui/ settings/ online/.
// This header: reading a .plane design file and showing a design as a row. No <windows.h> here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/base/plane_record.h"

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

// A catalogue file name that may be joined to the myPlanes folder: a design's name ending in
// ".plane" (any case), not ending in a dot or blank (which Windows drops), without "\", "/", ":"
// or control characters, and not a device name such as NUL.plane.
bool IsSafePlaneFileName(std::string_view name);

// A download's temporary file in myPlanes: the prefix, one to four hexadecimal digits, ".tmp"
// (any case), as the system names it from the prefix.
constexpr char DownloadTemporaryPrefix[] = "skv";
bool IsDownloadTemporaryName(std::string_view name);
// The search pattern of those files: the prefix, "*.tmp".
std::string DownloadTemporaryPattern();
