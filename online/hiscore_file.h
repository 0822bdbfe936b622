// The game's hiscore file, the hiscore query and the rank message. No <windows.h> here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include "app/base/hiscore_entry.h"
#include "res/resource.h"

constexpr std::size_t HiscoreLineLimit = 1023;   // characters of a line that count
constexpr std::size_t RankMessageSize = 512;     // the rank box text, terminator included

struct HiscoreRead {
    int Lines = 0;               // records filled from the file, 0 to 6
    bool FirstComplete = false;  // record 0 came from a line with all seven fields
};

// Fills the table from the file's bytes, one line per record. A broken file never reads or
// writes past a buffer: parsing stops at the end of the data, records without a line are
// cleared, long lines and names are cut, and a line with fewer than seven fields scores 0.
HiscoreRead ParseHiscoreData(std::string_view data, HiscoreEntry (&table)[HiscoreRecords]);

// Fills one record from one line; true when the line held all seven fields.
bool ParseHiscoreLine(std::string_view line, HiscoreEntry& entry);

// "?data=" name ";" score ";" mail, with name and mail escaped.
std::string HiscoreQuery(std::string_view name, int64_t score, std::string_view mail);

// Base id of the rank box text for the server's answer: a rank above 20, or a top rank.
int RankMessageId(std::string_view body);

// The text with the first "%s" replaced by the body, taken literally, cut to fit the box's buffer.
std::string RankMessage(std::string_view pattern, std::string_view body);
