#include "settings/registry_store.h"

#include <cstring>

const char NetSettingsKey[] = "Software\\Brightmoor Software\\INet\\1.0";

namespace {
constexpr DWORD ValueBufferSize = 512;
constexpr char MailValue[] = "Mail";

// Opens the key for reading and writing, creating it and every missing key above it.
LONG OpenSettingsKey(HKEY root, const char* subkey, RegKeyHolder& key)
{
    DWORD disposition = 0;
    return RegCreateKeyExA(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                           nullptr, key.Receive(), &disposition);
}
}

void RegKeyHolder::Close()
{
    if (Key) {
        RegCloseKey(Key);
        Key = nullptr;
    }
}

std::string ReadRegistryString(const char* subkey, const char* valueName)
{
    RegKeyHolder key;
    if (OpenSettingsKey(HKEY_CURRENT_USER, subkey, key) != ERROR_SUCCESS)
        return {};
    char buffer[ValueBufferSize] = {};
    DWORD type = 0;
    DWORD size = ValueBufferSize;
    if (RegQueryValueExA(key.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS
        || type != REG_SZ)
        return {};
    // A value stored without its terminator must not be read past the buffer.
    return std::string(buffer, strnlen(buffer, ValueBufferSize));
}

LONG WriteRegistryString(HKEY root, const char* subkey, const char* data, const char* valueName)
{
    RegKeyHolder key;
    const LONG opened = OpenSettingsKey(root, subkey, key);
    if (opened != ERROR_SUCCESS)
        return opened;
    return RegSetValueExA(key.Get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                          static_cast<DWORD>(std::strlen(data) + 1));
}

LONG WriteNetSetting(const char* valueName, const char* value)
{
    return WriteRegistryString(HKEY_CURRENT_USER, NetSettingsKey, value, valueName);
}

std::string ReadMailAddress()
{
    return ReadRegistryString(NetSettingsKey, MailValue);
}

LONG WriteMailAddress(const char* mail)
{
    return WriteNetSetting(MailValue, mail);
}
