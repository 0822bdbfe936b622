// settings/: the registry store and the Options dialog; may include app/base/ res/ ui/.
// Per-user registry strings.
#pragma once
#include <windows.h>
#include <string>

extern const char NetSettingsKey[];   // "Software\Brightmoor Software\INet\1.0"

// Closes the held key, if still open, when it ends.
class RegKeyHolder {
public:
    RegKeyHolder() = default;
    ~RegKeyHolder() { Close(); }
    RegKeyHolder(const RegKeyHolder&) = delete;
    RegKeyHolder& operator=(const RegKeyHolder&) = delete;
    HKEY* Receive() { return &Key; }
    HKEY Get() const { return Key; }
    void Close();

private:
    HKEY Key = nullptr;
};

// A REG_SZ value under HKEY_CURRENT_USER, or "" (missing, other type, 512 bytes or more).
// Opening creates the key path.
std::string ReadRegistryString(const char* subkey, const char* valueName);
LONG WriteRegistryString(HKEY root, const char* subkey, const char* data, const char* valueName);
LONG WriteNetSetting(const char* valueName, const char* value);

// The player's mail address, the value "Mail" under NetSettingsKey; "" when none is stored.
std::string ReadMailAddress();
LONG WriteMailAddress(const char* mail);
