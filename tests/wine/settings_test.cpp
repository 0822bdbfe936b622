// The registry store of settings/ in-process, against the test prefix's registry.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "settings/registry_store.h"
#include "tests/wine/registry_values.h"

namespace {
constexpr char TestRoot[] = "Software\\StarterSettingsTests";

std::string WithZero(const std::string& text)
{
    return text + '\0';
}
}

class RegistryStore : public testing::Test {
protected:
    void SetUp() override { DeleteKeyTree(TestRoot); }
    void TearDown() override { DeleteKeyTree(TestRoot); }
    const char* Key = "Software\\StarterSettingsTests\\Store\\Deep";
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
    EXPECT_EQ(WriteNetSetting("SettingsTestSetting", "ftp.example.org"), ERROR_SUCCESS);
    EXPECT_EQ(ReadRegistryString(NetSettingsKey, "SettingsTestSetting"), "ftp.example.org");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, NetSettingsKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    RegDeleteValueA(key, "SettingsTestSetting");
    RegCloseKey(key);
}
