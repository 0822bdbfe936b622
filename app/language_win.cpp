#include "app/language.h"

#include "app/base/app_state.h"

namespace {
constexpr DWORD ProfileValueSize = 256;

std::string ReadAutorunLanguage()
{
    char value[ProfileValueSize] = {};
    const std::string path = std::string(App.StarterDir) + "autorun.inf";
    GetPrivateProfileStringA("config", "lang", "", value, ProfileValueSize, path.c_str());
    return value;
}
}

void ReadLanguage()
{
    App.LanguageIndex = ChooseLanguage(ReadAutorunLanguage(), App.StarterDir, App.GamePath);
}
