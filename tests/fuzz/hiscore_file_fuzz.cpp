// The game's hiscore file as any bytes, and the same bytes as the server's rank answer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "online/hiscore_file.h"

namespace {
void Check(bool condition)
{
    if (!condition)
        std::abort();
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    HiscoreEntry table[HiscoreRecords];
    for (HiscoreEntry& entry : table) {
        std::memset(entry.Name, 'x', sizeof entry.Name);   // must come back terminated
        entry.Score = 12345;
    }
    const HiscoreRead read = ParseHiscoreData(bytes, table);
    Check(read.Lines >= 0 && read.Lines <= HiscoreRecords);
    Check(!read.FirstComplete || read.Lines >= 1);
    for (int i = 0; i < HiscoreRecords; ++i) {
        Check(strnlen(table[i].Name, sizeof table[i].Name) < sizeof table[i].Name);
        // Records past the data are cleared, not left with an old value.
        if (i >= read.Lines)
            Check(table[i].Name[0] == '\0' && table[i].Score == 0);
        // The name is the text of the line, so it never holds a line end or a separator.
        Check(std::strpbrk(table[i].Name, "\r;") == nullptr);
    }

    // What goes on the wire has no separator of its own inside the escaped name.
    const std::string query = HiscoreQuery(table[0].Name, table[0].Score, bytes);
    Check(query.compare(0, 6, "?data=") == 0);
    Check(query.find_first_of("&#? \r\n", 1) == std::string::npos);

    // The rank box: the answer is text, never a format, and the box's buffer is never exceeded.
    const std::string message = RankMessage("Rank %s of %d %n %s!", bytes);
    Check(message.size() < RankMessageSize);
    const std::string whole = "Rank " + std::string(bytes) + " of %d %n %s!";
    Check(whole.size() < RankMessageSize ? message == whole : whole.compare(0, message.size(), message) == 0);
    const int id = RankMessageId(bytes);
    Check(id == IDS_RANK || id == IDS_RANK_TOP);
    return 0;
}
