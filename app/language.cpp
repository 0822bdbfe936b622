#include "app/language.h"

#include "app/base/paths.h"
#include "app/base/text_number.h"

#include <cstdio>

int32_t LanguageFromBytes(std::string_view head)
{
    return head.empty() ? -1 : static_cast<unsigned char>(head[0]);
}

// C stdio rather than a file stream: streams pull the locale machinery into the program.
bool ReadLanguageFile(const std::string& folder, int32_t& language)
{
    std::FILE* file = std::fopen(JoinPath(folder, "misc\\sabbel.dat").c_str(), "rb");
    if (!file)
        return false;
    char first = 0;
    const std::size_t read = std::fread(&first, 1, 1, file);
    std::fclose(file);
    language = LanguageFromBytes(std::string_view(&first, read));
    return true;
}

int32_t ChooseLanguage(const std::string& profileValue, const std::string& starterDir, const std::string& gamePath)
{
    if (!profileValue.empty())
        return LeadingNumber32(profileValue);
    int32_t language = EnglishLanguage;
    if (ReadLanguageFile(starterDir, language))
        return language;
    // Without a game folder the path would name the root of the current drive.
    if (!gamePath.empty() && ReadLanguageFile(gamePath, language))
        return language;
    return EnglishLanguage;
}
