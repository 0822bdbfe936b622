#include "online/hiscore_file.h"

#include <algorithm>
#include <cstring>
#include "app/base/text_number.h"
#include "online/http_text.h"
#include "res/resource.h"

namespace {
constexpr int HiscoreFields = 7;

// Fields split at semicolons; a run of them is one separator and leading ones are skipped,
// so no field is ever empty.
int SplitFields(std::string_view line, std::string_view (&fields)[HiscoreFields])
{
    int count = 0;
    std::size_t pos = 0;
    while (count < HiscoreFields) {
        pos = line.find_first_not_of(';', pos);
        if (pos == std::string_view::npos)
            break;
        std::size_t end = line.find(';', pos);
        if (end == std::string_view::npos)
            end = line.size();
        fields[count++] = line.substr(pos, end - pos);
        pos = end;
    }
    return count;
}
}

bool ParseHiscoreLine(std::string_view line, HiscoreEntry& entry)
{
    // The line is a C string to the game: it ends at its first zero byte.
    line = line.substr(0, line.find('\0'));
    if (line.size() > HiscoreLineLimit)
        line = line.substr(0, HiscoreLineLimit);

    std::string_view fields[HiscoreFields];
    const int count = SplitFields(line, fields);

    const std::size_t nameLength = std::min(fields[0].size(), sizeof entry.Name - 1);
    // A line without fields leaves fields[0] without data: memcpy must not see its null pointer.
    if (nameLength > 0)
        std::memcpy(entry.Name, fields[0].data(), nameLength);
    entry.Name[nameLength] = '\0';
    entry.Score = 0;
    if (count < HiscoreFields)
        return false;

    const int64_t k1 = LeadingNumber64(fields[2]);
    const int64_t mask = LeadingNumber64(fields[3]);
    const int64_t k2 = LeadingNumber64(fields[4]);
    const int64_t k3 = LeadingNumber64(fields[5]);
    const int64_t masked = LeadingNumber64(fields[6]);
    if ((masked ^ mask) == (k1 ^ k2 ^ k3))
        entry.Score = masked ^ mask;
    return true;
}

HiscoreRead ParseHiscoreData(std::string_view data, HiscoreEntry (&table)[HiscoreRecords])
{
    HiscoreRead read;
    std::size_t pos = 0;
    for (HiscoreEntry& entry : table) {
        if (pos >= data.size()) {
            entry = HiscoreEntry();
            continue;
        }
        std::size_t end = data.find('\r', pos);
        if (end == std::string_view::npos)
            end = data.size();
        const bool complete = ParseHiscoreLine(data.substr(pos, end - pos), entry);
        if (read.Lines == 0)
            read.FirstComplete = complete;
        ++read.Lines;
        // Past the CR and its LF; a bare CR does not swallow the next line's first character.
        pos = end + 1;
        if (pos < data.size() && data[pos] == '\n')
            ++pos;
    }
    return read;
}

std::string HiscoreQuery(std::string_view name, int64_t score, std::string_view mail)
{
    return "?data=" + EncodeField(name) + ";" + std::to_string(score) + ";" + EncodeField(mail);
}

int RankMessageId(std::string_view body)
{
    return LeadingNumber64(body) > 20 ? IDS_RANK : IDS_RANK_TOP;
}

std::string RankMessage(std::string_view pattern, std::string_view body)
{
    std::string text(pattern);
    const std::size_t marker = text.find("%s");
    if (marker != std::string::npos)
        text.replace(marker, 2, body.data(), body.size());
    if (text.size() > RankMessageSize - 1)
        text.resize(RankMessageSize - 1);
    return text;
}
