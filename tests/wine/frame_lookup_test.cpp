#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "app/base/app_state.h"
#include "app/game_lookup.h"
#include "app/language.h"
#include "settings/registry_store.h"
#include "tests/support/simulated_drive.h"
#include "tests/support/temp_folder.h"
#include "tests/wine/app_scope.h"

namespace fs = std::filesystem;

namespace {
constexpr char MakerKey[] = "Software\\Brightmoor Software\\Skyvora\\1.0";
constexpr char PublisherKey[] = "Software\\Larkspire\\SKV";
constexpr char TestRoot[] = "Software\\StarterFrameTests";

using testsupport::TempFolder;

bool KeyExists(const char* key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

void WriteValue(const char* key, const char* name, DWORD type, const std::string& bytes)
{
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(handle, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
    RegCloseKey(handle);
}

std::string WithZero(const std::string& text)
{
    return text + '\0';
}

struct RawValue {
    LONG Result = ERROR_FILE_NOT_FOUND;
    DWORD Type = 0;
    DWORD Size = 0;
    std::string Text;
};

RawValue QueryValue(const char* key, const char* name)
{
    RawValue value;
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return value;
    char data[1024] = {};
    value.Size = sizeof data;
    value.Result = RegQueryValueExA(handle, name, nullptr, &value.Type, reinterpret_cast<BYTE*>(data), &value.Size);
    value.Text = data;
    RegCloseKey(handle);
    return value;
}

void DeleteKeyTree(const char* key)
{
    RegDeleteTreeA(HKEY_CURRENT_USER, key);
    RegDeleteKeyA(HKEY_CURRENT_USER, key);
}
}

// ---- Registry store

class RegistryStore : public testing::Test {
protected:
    void SetUp() override { DeleteKeyTree(TestRoot); }
    void TearDown() override { DeleteKeyTree(TestRoot); }
    const char* Key = "Software\\StarterFrameTests\\Store\\Deep";
};

TEST_F(RegistryStore, ReadingCreatesTheKeyPathButNoValue)
{
    ASSERT_FALSE(KeyExists(TestRoot));
    EXPECT_EQ(ReadRegistryString(Key, "Mail"), "");
    EXPECT_TRUE(KeyExists(Key));
    EXPECT_EQ(QueryValue(Key, "Mail").Result, ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryStore, OnlyStringValuesThatFitAreRead)
{
    const std::string dword("\x2A\0\0\0", 4);
    struct Case { DWORD type; std::string bytes; std::string read; };
    const Case cases[] = {
        {REG_SZ, WithZero("someone@example.org"), "someone@example.org"},
        {REG_SZ, WithZero(""), ""},
        {REG_SZ, WithZero(std::string(511, 'x')), std::string(511, 'x')},
        {REG_SZ, WithZero(std::string(512, 'x')), ""},
        {REG_SZ, WithZero(std::string(900, 'x')), ""},
        {REG_EXPAND_SZ, WithZero("C:\\Games"), ""},
        {REG_DWORD, dword, ""},
        {REG_MULTI_SZ, std::string("a\0b\0\0", 5), ""},
        {REG_BINARY, WithZero("C:\\Games"), ""},
    };
    for (const Case& c : cases) {
        WriteValue(Key, "Value", c.type, c.bytes);
        EXPECT_EQ(ReadRegistryString(Key, "Value"), c.read) << c.type << " " << c.bytes.size();
    }
}

TEST_F(RegistryStore, WritesStringsWithTheirTerminatorAndCreatesThePath)
{
    EXPECT_EQ(WriteRegistryString(HKEY_CURRENT_USER, Key, "", "Empty"), ERROR_SUCCESS);
    const RawValue empty = QueryValue(Key, "Empty");
    EXPECT_EQ(empty.Result, ERROR_SUCCESS);
    EXPECT_EQ(empty.Type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(empty.Size, 1u);

    EXPECT_EQ(WriteRegistryString(HKEY_CURRENT_USER, Key, "player@example.org", "Mail"), ERROR_SUCCESS);
    EXPECT_EQ(ReadRegistryString(Key, "Mail"), "player@example.org");
    EXPECT_EQ(QueryValue(Key, "Mail").Size, 19u);

    EXPECT_NE(WriteRegistryString(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234)), Key, "x", "Mail"),
              ERROR_SUCCESS);
}

TEST_F(RegistryStore, NetSettingsGoUnderTheirKey)
{
    EXPECT_STREQ(NetSettingsKey, "Software\\Brightmoor Software\\INet\\1.0");
    EXPECT_EQ(WriteNetSetting("FrameTestSetting", "ftp.example.org"), ERROR_SUCCESS);
    EXPECT_EQ(ReadRegistryString(NetSettingsKey, "FrameTestSetting"), "ftp.example.org");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, NetSettingsKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    RegDeleteValueA(key, "FrameTestSetting");
    RegCloseKey(key);
}

// ---- Language and game lookup work on App's folders: keep them as found.

namespace {
class FrameFolders : public testing::Test {
protected:
    AppScope Saved;
};

}

class Language : public FrameFolders {};

TEST_F(Language, SourcesInOrderOfPrecedence)
{
    using File = std::optional<std::string>;
    const File none;
    const File zero = std::string(1, '\0');
    struct Case { File autorun, starterByte, gameByte; bool gameFound; int32_t language; };
    const Case cases[] = {
        {"[config]\r\nlang=2\r\n", zero, zero, true, 2},
        {"[config]\r\nlang=0\r\n", none, none, true, 0},
        {"[config]\r\nlang=fr\r\n", "\x02", none, true, 0},
        {"[config]\r\nlang=\r\n", zero, none, true, 0},        // empty value: absent
        {"[setup]\r\nlang=2\r\n", "\x02", none, true, 2},     // other section: absent
        {none, "1", none, true, 49},                           // a digit, not a byte value
        {none, "", "\x02", true, -1},                          // empty file in the Starter's folder
        {none, "\x02", zero, true, 2},                         // the Starter's folder first
        {none, none, zero, true, 0},
        {none, none, "\xFE", true, 254},
        {none, none, none, true, 1},
        {none, none, none, false, 1},
    };
    for (const Case& c : cases) {
        TempFolder starter;
        TempFolder game;
        if (c.autorun)
            starter.Write("autorun.inf", *c.autorun);
        if (c.starterByte)
            starter.Write("misc\\sabbel.dat", *c.starterByte);
        if (c.gameByte)
            game.Write("misc\\sabbel.dat", *c.gameByte);
        std::strcpy(App.StarterDir, (starter.Path() + "\\").c_str());
        std::strcpy(App.GamePath, c.gameFound ? game.Path().c_str() : "");
        App.LanguageIndex = 7;
        ReadLanguage();
        EXPECT_EQ(App.LanguageIndex, c.language) << c.autorun.value_or("-") << " starter " << c.starterByte.has_value()
                                                 << " game " << c.gameByte.has_value();
    }
}

// ---- Game lookup

class GameLookup : public FrameFolders {
protected:
    void SetUp() override
    {
        FrameFolders::SetUp();
        DeleteKeyTree(MakerKey);
        DeleteKeyTree(PublisherKey);
        Game.Write(GameProgram, "stand-in");
    }
    void TearDown() override
    {
        DeleteKeyTree(MakerKey);
        DeleteKeyTree(PublisherKey);
        FrameFolders::TearDown();
    }
    TempFolder Game;
    TempFolder Elsewhere;   // no ZP.EXE
};

TEST_F(GameLookup, StarterDirIsOurOwnFolder)
{
    FindGame();
    char module[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    const std::string starterDir = App.StarterDir;
    ASSERT_FALSE(starterDir.empty());
    EXPECT_EQ(starterDir.back(), '\\');
    const std::string modulePath = module;
    EXPECT_EQ(starterDir + modulePath.substr(modulePath.find_last_of('\\') + 1), modulePath);
}

TEST_F(GameLookup, RegistryValuesInOrder)
{
    // Placeholders: G the game folder, E a folder without the game, C a CD-ROM and R a
    // removable drive that both hold the game, U the game folder in Wine's \\?\unix form.
    TempFolder media;
    media.Write(GameProgram, "stand-in");
    SimulatedDrive cdrom(DRIVE_CDROM, media.UnixPath());
    SimulatedDrive removable(DRIVE_REMOVABLE, media.UnixPath());
    ASSERT_FALSE(cdrom.Root.empty());
    ASSERT_FALSE(removable.Root.empty());
    ASSERT_EQ(GetDriveTypeA(cdrom.Root.c_str()), static_cast<UINT>(DRIVE_CDROM));
    ASSERT_EQ(GetDriveTypeA(removable.Root.c_str()), static_cast<UINT>(DRIVE_REMOVABLE));
    std::string unixForm = "\\\\?\\unix" + Game.UnixPath();   // no drive root in its first three characters
    std::replace(unixForm.begin(), unixForm.end(), '/', '\\');

    auto expand = [&](const std::string& text) {
        if (text.empty())
            return text;
        const std::string rest = text.substr(1);
        switch (text[0]) {
        case 'G': return Game.Path() + rest;
        case 'E': return Elsewhere.Path() + rest;
        case 'C': return cdrom.Root + rest;
        case 'R': return removable.Root + rest;
        case 'U': return unixForm + rest;
        default: return text;
        }
    };
    struct Case { const char* maker; DWORD makerType; const char* publisher; const char* found; bool publisherRead; };
    const Case cases[] = {
        {"G", REG_SZ, nullptr, "G", false},
        {"G\\", REG_SZ, "E", "G\\", false},
        {"G/", REG_SZ, nullptr, "G/", false},
        {"E", REG_SZ, "G", "G", true},
        {nullptr, REG_SZ, "G\\", "G\\", true},
        {"", REG_SZ, "G", "G", true},
        {"G", REG_EXPAND_SZ, nullptr, "", true},
        {"C", REG_SZ, "G", "G", true},
        {"C", REG_SZ, nullptr, "", true},
        {"R", REG_SZ, "R\\", "", true},
        {"U", REG_SZ, nullptr, "U", false},
        {nullptr, REG_SZ, nullptr, "", true},
    };
    for (const Case& c : cases) {
        DeleteKeyTree(MakerKey);
        DeleteKeyTree(PublisherKey);
        if (c.maker)
            WriteValue(MakerKey, "&AppPath", c.makerType, WithZero(expand(c.maker)));
        if (c.publisher)
            WriteValue(PublisherKey, "Path", REG_SZ, WithZero(expand(c.publisher)));
        FindGame();
        const std::string label = std::string(c.maker ? c.maker : "-") + " / " + (c.publisher ? c.publisher : "-");
        EXPECT_EQ(App.GamePath, expand(c.found)) << label;
        EXPECT_TRUE(KeyExists(MakerKey)) << label;
        // Reading creates the keys, never a value.
        EXPECT_EQ(KeyExists(PublisherKey), c.publisherRead || c.publisher) << label;
        EXPECT_EQ(QueryValue(MakerKey, "&AppPath").Result == ERROR_SUCCESS, c.maker != nullptr) << label;
        EXPECT_EQ(QueryValue(PublisherKey, "Path").Result == ERROR_SUCCESS, c.publisher != nullptr) << label;
    }
}

TEST_F(GameLookup, UsableFolders)
{
    TempFolder media;
    media.Write("ZP.EXE\\inside", "a folder of that name counts too");
    SimulatedDrive cdrom(DRIVE_CDROM, Game.UnixPath());
    ASSERT_FALSE(cdrom.Root.empty());
    struct Case { std::string folder; bool usable; };
    const Case cases[] = {
        {Game.Path(), true},
        {Game.Path() + "\\", true},
        {media.Path(), true},
        {Elsewhere.Path(), false},
        {cdrom.Root, false},
        {"Q:\\NoSuchDrive", false},
        {"\\\\nosuchserver\\share", false},
        {"Z:\\" + std::string(4090, 'a'), false},   // does not fit with the file name: refused
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsUsableGameFolder(c.folder.c_str(), GameProgram), c.usable) << c.folder.substr(0, 80);
}
