// The portable logic of app/ and app/base/: leading numbers, paths, the language bytes and
// sources, the launch command, the Starter's own folder.

#include <gtest/gtest.h>

#include <cstring>

#include "app/base/paths.h"
#include "app/base/text_number.h"
#include "app/game_lookup.h"
#include "app/language.h"
#include "app/launch.h"

// ---- Leading numbers and paths (app/base/)

TEST(LeadingNumber, ReadsLikeTheGameFiles)
{
    struct Case { const char* text; int64_t value; };
    const Case cases[] = {
        {"17", 17}, {"  -42x", -42}, {"+7;", 7}, {"fr", 0}, {"", 0}, {"-", 0},
        {"17\n", 17}, {"\t 3 4", 3}, {"9223372036854775807", INT64_MAX},
        {"9223372036854775808", INT64_MAX}, {"-9223372036854775808", INT64_MIN},
        {"-99999999999999999999", INT64_MIN},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LeadingNumber64(c.text), c.value) << c.text;
}

TEST(LeadingNumber, ThirtyTwoBitSaturates)
{
    EXPECT_EQ(LeadingNumber32("2147483647"), INT32_MAX);
    EXPECT_EQ(LeadingNumber32("2147483648"), INT32_MAX);
    EXPECT_EQ(LeadingNumber32("-2147483649"), INT32_MIN);
    EXPECT_EQ(LeadingNumber32(" -12abc"), -12);
}

TEST(Paths, TrailingSeparator)
{
    struct Case { const char* in; const char* out; bool appended; };
    const Case cases[] = {
        {"C:\\Games\\Flight", "C:\\Games\\Flight\\", true},
        {"C:\\Games\\Flight\\", "C:\\Games\\Flight\\", false},
        {"C:/Games/Flight/", "C:/Games/Flight/", false},
        {"", "\\", true},
    };
    for (const Case& c : cases) {
        std::string path = c.in;
        EXPECT_EQ(EnsureTrailingSeparator(path), c.appended) << c.in;
        EXPECT_EQ(path, c.out);
    }
    EXPECT_EQ(JoinPath("D:\\Games\\Flight", "ZP.EXE"), "D:\\Games\\Flight\\ZP.EXE");
    EXPECT_EQ(JoinPath("D:/Games/", "ZP.EXE"), "D:/Games/ZP.EXE");
}

TEST(Paths, CopyRefusesWhatDoesNotFit)
{
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_FALSE(CopyToBuffer(buffer, sizeof buffer, "12345678"));
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_TRUE(CopyToBuffer(buffer, sizeof buffer, "1234567"));
    EXPECT_STREQ(buffer, "1234567");
}

// ---- Language, launching and game lookup (app/)

TEST(Language, FirstByteIsTheRawValue)
{
    struct Case { std::string bytes; int32_t language; };
    const Case cases[] = {
        {std::string("\0", 1), 0}, {"\x01", 1}, {"\x02rest", 2}, {"1", 49}, {"", -1}, {"\xFF", 255}, {"\x80\x01", 128},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LanguageFromBytes(c.bytes), c.language) << c.bytes.size();
}

TEST(Language, ProfileValueWinsWhenNotEmpty)
{
    // No language file can exist under these folders here, so an absent value falls to English.
    const std::string none = "no such folder";
    struct Case { const char* value; int32_t language; };
    const Case cases[] = {{"2", 2}, {"0", 0}, {"fr", 0}, {" 1x", 1}, {"-3", -3}, {"", 1}};
    for (const Case& c : cases)
        EXPECT_EQ(ChooseLanguage(c.value, none, none), c.language) << c.value;
    EXPECT_EQ(ChooseLanguage("", none, ""), 1);
}

TEST(Launch, CommandLineAndWorkingFolder)
{
    struct Case { const char* folder; const char* program; const char* commandLine; };
    const Case cases[] = {
        {"D:\\Games\\Flight", "ZP.EXE", "D:\\Games\\Flight\\ZP.EXE"},
        {"D:\\Games\\Flight\\", "ZP.EXE", "D:\\Games\\Flight\\ZP.EXE"},
        {"D:/Games/Flight/", "ZP.EXE", "D:/Games/Flight/ZP.EXE"},
        {"C:\\Program Files\\Sky vora", "ZP.EXE", "C:\\Program Files\\Sky vora\\ZP.EXE"},
        {"C:\\Games\\Flight\\", "SETUP.EXE", "C:\\Games\\Flight\\SETUP.EXE"},
    };
    for (const Case& c : cases) {
        LaunchCommand launch;
        ASSERT_TRUE(PrepareLaunch(c.folder, c.program, launch)) << c.folder;
        EXPECT_STREQ(launch.CommandLine, c.commandLine);
        EXPECT_STREQ(launch.ApplicationName, c.commandLine);   // the full path, never a shorter one
        EXPECT_EQ(launch.WorkingFolder, c.folder);   // the stored folder itself, unchanged
    }
}

TEST(Launch, EmptyFolderNamesTheBareProgram)
{
    LaunchCommand launch;
    ASSERT_TRUE(PrepareLaunch("", "ZP.EXE", launch));
    EXPECT_STREQ(launch.CommandLine, "ZP.EXE");
    EXPECT_STREQ(launch.ApplicationName, "");
    EXPECT_EQ(launch.WorkingFolder, nullptr);
}

TEST(Launch, CommandLineThatDoesNotFitIsRefused)
{
    // "X:\" + name + "\ZP.EXE" is exactly 4095 characters with a name of 4085.
    std::string folder = "X:\\" + std::string(4085, 'a');
    LaunchCommand launch;
    ASSERT_TRUE(PrepareLaunch(folder.c_str(), "ZP.EXE", launch));
    EXPECT_EQ(std::strlen(launch.CommandLine), 4095u);

    folder += 'a';
    LaunchCommand tooLong;
    std::memset(tooLong.CommandLine, 'q', sizeof tooLong.CommandLine);
    EXPECT_FALSE(PrepareLaunch(folder.c_str(), "ZP.EXE", tooLong));
    EXPECT_EQ(tooLong.CommandLine[0], 'q');
    EXPECT_EQ(tooLong.WorkingFolder, nullptr);
}

TEST(GameLookup, DriveAndFolderOfTheModule)
{
    struct Case { const char* path; const char* folder; };
    const Case cases[] = {
        {"C:\\Games\\Flight\\Starter.exe", "C:\\Games\\Flight\\"},
        {"Z:\\tmp\\a.b\\Starter", "Z:\\tmp\\a.b\\"},
        {"\\\\server\\share\\Starter.exe", "\\\\server\\share\\"},
        {"C:/Games/Starter.exe", "C:/Games/"},
        {"C:Starter.exe", "C:"},
        {"Starter.exe", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DriveAndFolder(c.path), c.folder) << c.path;
}
