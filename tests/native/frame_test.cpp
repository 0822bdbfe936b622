#include "app/game_lookup.h"
#include "app/language.h"
#include "app/launch.h"
#include "online/error_text.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
ErrorTextParts EnglishParts(std::string value, const char* file)
{
    ErrorTextParts parts;
    parts.Message = "An error occured during the the data transfer.";
    parts.ErrorWord = "Error:";
    parts.Value = std::move(value);
    parts.Line = 217;
    parts.File = file;
    parts.LineLabel = "Line:";
    parts.FileLabel = "File:";
    return parts;
}
}

TEST(ErrorText, ComposedLikeTheBox)
{
    const std::string head = "An error occured during the the data transfer.\r\n\r\nError:\t";
    struct Case { std::string value; const char* file; const char* tail; };
    const Case cases[] = {
        {ErrorCodeText(6), "starter", "6\r\nLine:\t217\r\nFile:\tstarter"},
        {ErrorCodeText(0), "starter", "0\r\nLine:\t217\r\nFile:\tstarter"},
        {ErrorCodeText(-12029), "starter", "-12029\r\nLine:\t217\r\nFile:\tstarter"},
        {ErrorCodeText(INT32_MIN), "starter", "-2147483648\r\nLine:\t217\r\nFile:\tstarter"},
        {ErrorCodeText(126), "C:\\src\\app/starter", "126\r\nLine:\t217\r\nFile:\tstarter"},
        {ErrorCodeText(126), "C:/src/app\\starter.cpp", "126\r\nLine:\t217\r\nFile:\tstarter.cpp"},
        {ErrorCodeText(126), "C:\\src\\", "126\r\nLine:\t217\r\nFile:\t"},
        {"500 Internal\r\nServer Error\n", "starter", "500 Internal\r\nServer Error\n\r\nLine:\t217\r\nFile:\tstarter"},
        {"", "", "\r\nLine:\t217\r\nFile:\t"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ComposeErrorText(EnglishParts(c.value, c.file)), head + c.tail) << c.file;
}

TEST(ErrorText, NegativeLineAndFrenchWord)
{
    ErrorTextParts parts = EnglishParts("0", "starter");
    parts.Message = "Le jeu Skyvora n'a pas \xE9t\xE9 trouv\xE9.";
    parts.ErrorWord = "Erreur :";
    parts.Line = -218;
    EXPECT_EQ(ComposeErrorText(parts),
              "Le jeu Skyvora n'a pas \xE9t\xE9 trouv\xE9.\r\n\r\nErreur :\t0\r\nLine:\t-218\r\nFile:\tstarter");
}

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
