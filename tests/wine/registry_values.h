// Registry values of the current user read and written around the store under test, with the
// system's own calls.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

struct RawValue {
    LONG Result = ERROR_FILE_NOT_FOUND;
    DWORD Type = 0;
    DWORD Size = 0;
    std::string Text;
    bool Present() const { return Result == ERROR_SUCCESS; }
};

inline RawValue QueryValue(const char* key, const char* name)
{
    RawValue value;
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return value;
    char data[2048] = {};
    value.Size = sizeof data - 1;
    value.Result = RegQueryValueExA(handle, name, nullptr, &value.Type, reinterpret_cast<BYTE*>(data), &value.Size);
    value.Text = data;
    RegCloseKey(handle);
    return value;
}

inline void WriteValue(const char* key, const char* name, DWORD type, const std::string& bytes)
{
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(handle, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
    RegCloseKey(handle);
}

// A REG_SZ value with its terminator.
inline void WriteText(const char* key, const char* name, const std::string& text)
{
    WriteValue(key, name, REG_SZ, text + '\0');
}

inline void DeleteValue(const char* key, const char* name)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_SET_VALUE, &handle) == ERROR_SUCCESS) {
        RegDeleteValueA(handle, name);
        RegCloseKey(handle);
    }
}

inline bool KeyExists(const char* key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

inline void DeleteKeyTree(const char* key)
{
    RegDeleteTreeA(HKEY_CURRENT_USER, key);
    RegDeleteKeyA(HKEY_CURRENT_USER, key);
}
