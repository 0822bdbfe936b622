#include "planes/plane_list.h"

#include <commctrl.h>

#include "app/base/app_state.h"
#include "app/base/handles.h"
#include "app/base/lang_text.h"
#include "app/base/paths.h"

bool ReadPlaneHeader(const std::string& path, PlaneHeader& header)
{
    header = PlaneHeader{};
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    // The block can be no longer than this; the parser takes N of these bytes.
    unsigned char bytes[4 + PlaneHeaderMaxLength];
    DWORD got = 0;
    if (!ReadFile(file.Get(), bytes, sizeof bytes, &got, nullptr))
        got = 0;
    ParsePlaneHeader(bytes, got, header);
    return true;
}

namespace {
// The name goes in with nameMessage (a new row, or one that exists), the other cells after it.
void WritePlaneRow(HWND list, const PlaneEntry& entry, int row, UINT nameMessage)
{
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<char*>(entry.Name);
    SendMessageA(list, nameMessage, 0, reinterpret_cast<LPARAM>(&item));
    for (int column = 1; column < PlaneColumnCount; ++column) {
        const PlaneCell cell = PlaneRowCell(entry, column);
        // A word is loaded right before its cell is set: each load reuses the text buffer.
        item.pszText = const_cast<char*>(cell.WordId ? LoadLangString(cell.WordId) : cell.Text.c_str());
        item.iSubItem = column;
        SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
}
}

void AddPlaneRow(HWND list, const PlaneEntry& entry, int row)
{
    WritePlaneRow(list, entry, row, LVM_INSERTITEMA);
}

void RewritePlaneRow(HWND list, const PlaneEntry& entry, int row)
{
    WritePlaneRow(list, entry, row, LVM_SETITEMA);
}

void SelectFirstRow(HWND list)
{
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&item));
}

std::string PlanesFolder()
{
    return JoinPath(App.GamePath, "myPlanes");
}

void FillLocalPlaneList(HWND list)
{
    const std::string folder = PlanesFolder();
    WIN32_FIND_DATAA match;
    FindHandle search(FindFirstFileA(JoinPath(folder, "*.plane").c_str(), &match));
    int row = 0;
    for (bool found = bool(search); found; found = FindNextFileA(search.Get(), &match)) {
        // A folder that happens to end in ".plane" is no design.
        if (match.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        PlaneHeader header;
        ReadPlaneHeader(JoinPath(folder, match.cFileName), header);
        AddPlaneRow(list, PlaneEntryFromHeader(header), row++);
        App.LocalPlaneFiles.push_back(match.cFileName);
    }
    SelectFirstRow(list);
}
