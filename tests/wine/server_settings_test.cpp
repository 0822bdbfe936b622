#include "online/server_settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "app/base/app_state.h"
#include "settings/registry_store.h"
#include "tests/support/temp_folder.h"
#include "tests/wine/app_scope.h"

namespace {
constexpr char Setting[] = "ONLINE_TEST_SETTING";
constexpr char Default[] = "default.example";

struct RegValue {
    bool Present = false;
    DWORD Type = 0;
    std::string Text;
};

RegValue ReadRaw(const char* name)
{
    RegValue value;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, NetSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return value;
    char data[2048] = {};
    DWORD size = sizeof data - 1;
    if (RegQueryValueExA(key, name, nullptr, &value.Type, reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS) {
        value.Present = true;
        value.Text = data;
    }
    RegCloseKey(key);
    return value;
}

void WriteRaw(const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, NetSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(key);
}

void WriteText(const char* name, const std::string& text)
{
    WriteRaw(name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

void DeleteRaw(const char* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, NetSettingsKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, name);
        RegCloseKey(key);
    }
}

void WriteDat(const std::string& folder, const std::string& content)
{
    std::ofstream(folder + "starter.dat", std::ios::binary) << content;
}

class ServerSettings : public testing::Test {
protected:
    void SetUp() override
    {
        strcpy(App.StarterDir, StarterDir.c_str());
        DeleteRaw(Setting);
    }
    void TearDown() override { DeleteRaw(Setting); }
    std::string Lookup()
    {
        std::string value = "stale";
        EXPECT_TRUE(ReadServerSetting(Setting, Default, value));
        return value;
    }
    AppScope Saved;
    testsupport::TempFolder Starter{"skv-settings"}, Game{"skv-settings"}, Current{"skv-settings"};
    const std::string StarterDir = Starter.Path() + "\\";
};
}

TEST_F(ServerSettings, DefaultIsStoredInTheRegistry)
{
    EXPECT_EQ(Lookup(), Default);
    const RegValue stored = ReadRaw(Setting);
    EXPECT_TRUE(stored.Present);
    EXPECT_EQ(stored.Type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(stored.Text, Default);
}

TEST_F(ServerSettings, RegistryValueIsUsedUnchanged)
{
    WriteText(Setting, "test/rank.php");
    EXPECT_EQ(Lookup(), "test/rank.php");
    EXPECT_EQ(ReadRaw(Setting).Text, "test/rank.php");
}

TEST_F(ServerSettings, FileWinsAndIsNotCopied)
{
    WriteText(Setting, "registry.example");
    WriteDat(StarterDir, "[other]\r\nONLINE_TEST_SETTING=wrong\r\n[Setup]\r\n  online_test_setting =  file.example  \r\n");
    EXPECT_EQ(Lookup(), "file.example");
    EXPECT_EQ(ReadRaw(Setting).Text, "registry.example");

    // Without a registry value the file still wins and nothing is stored.
    DeleteRaw(Setting);
    EXPECT_EQ(Lookup(), "file.example");
    EXPECT_FALSE(ReadRaw(Setting).Present);
}

TEST_F(ServerSettings, EmptyEntriesCountAsAbsent)
{
    WriteDat(StarterDir, "[setup]\r\nONLINE_TEST_SETTING=\r\n");
    WriteText(Setting, "registry.example");
    EXPECT_EQ(Lookup(), "registry.example");

    WriteText(Setting, "");
    EXPECT_EQ(Lookup(), Default);
    EXPECT_EQ(ReadRaw(Setting).Text, Default);
}

TEST_F(ServerSettings, UnreadableRegistryValuesAreOverwritten)
{
    const DWORD number = 80;
    WriteRaw(Setting, REG_DWORD, &number, sizeof number);
    EXPECT_EQ(Lookup(), Default);
    EXPECT_EQ(ReadRaw(Setting).Type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(ReadRaw(Setting).Text, Default);

    WriteText(Setting, std::string(512, 'h'));
    EXPECT_EQ(Lookup(), Default);
    EXPECT_EQ(ReadRaw(Setting).Text, Default);

    // The longest value that fits the read buffer with its terminator still counts.
    WriteText(Setting, std::string(511, 'h'));
    EXPECT_EQ(Lookup(), std::string(511, 'h'));
}

TEST_F(ServerSettings, FileValueIsCutAt255)
{
    const std::string longHost(300, 'f');
    WriteDat(StarterDir, "[setup]\r\nONLINE_TEST_SETTING=" + longHost + "\r\n");
    EXPECT_EQ(Lookup(), longHost.substr(0, 255));
}

TEST_F(ServerSettings, OnlyTheFileBesideTheProgramCounts)
{
    const std::string game = Game.Path() + "\\", current = Current.Path() + "\\";
    WriteDat(game, "[setup]\r\nONLINE_TEST_SETTING=game.example\r\n");
    WriteDat(current, "[setup]\r\nONLINE_TEST_SETTING=current.example\r\n");
    strcpy(App.GamePath, game.c_str());
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, previous);
    SetCurrentDirectoryA(current.c_str());

    WriteText(Setting, "registry.example");
    EXPECT_EQ(Lookup(), "registry.example");
    DeleteRaw(Setting);
    EXPECT_EQ(Lookup(), Default);

    SetCurrentDirectoryA(previous);
}
