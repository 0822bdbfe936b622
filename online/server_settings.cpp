#include "online/server_settings.h"

#include <windows.h>
#include "app/base/app_state.h"
#include "app/base/paths.h"
#include "settings/registry_store.h"

namespace {
constexpr DWORD ProfileBufferSize = 256;
}

bool ReadServerSetting(const char* name, const char* defaultValue, std::string& value)
{
    value = ReadRegistryString(NetSettingsKey, name);

    // The file beside the program wins, and is never copied into the registry.
    const std::string file = JoinPath(App.StarterDir, "starter.dat");
    char text[ProfileBufferSize] = {};
    GetPrivateProfileStringA("setup", name, "", text, ProfileBufferSize, file.c_str());
    if (text[0] != '\0')
        value = text;

    if (value.empty()) {
        value = defaultValue;
        WriteNetSetting(name, defaultValue);
    }
    return true;
}

std::string ServerSetting(const char* name, const char* defaultValue)
{
    std::string value;
    ReadServerSetting(name, defaultValue, value);
    return value;
}
