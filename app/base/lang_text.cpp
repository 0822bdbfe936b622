#include "app/base/lang_text.h"

#include "app/base/app_state.h"
#include "app/base/paths.h"

#include <cstring>

namespace {
// Before the main window exists App.Instance is still null: the texts are in our own module.
HINSTANCE TextModule()
{
    return App.Instance ? App.Instance : GetModuleHandleA(nullptr);
}

// The system keeps only the low 16 bits of a string id: an id beyond them would
// read some other row, so it counts as missing.
bool LoadIntoTextBuffer(long long id)
{
    if (id <= 0 || id > 0xFFFF)
        return false;
    return LoadStringA(TextModule(), static_cast<UINT>(id), App.TextBuffer, TextBufferSize) > 0;
}
}

const char* LoadLangString(int baseId)
{
    std::memset(App.TextBuffer, 0, sizeof App.TextBuffer);
    const long long languageId = baseId + static_cast<long long>(IDS_LANGUAGE_STRIDE) * App.LanguageIndex;
    if (!LoadIntoTextBuffer(languageId) && !LoadIntoTextBuffer(baseId))
        CopyToBuffer(App.TextBuffer, sizeof App.TextBuffer, "Internal error");
    return App.TextBuffer;
}

std::string LoadFixedString(int id)
{
    char text[TitleBufferSize] = {};
    LoadStringA(TextModule(), static_cast<UINT>(id), text, sizeof text);
    return text;
}
