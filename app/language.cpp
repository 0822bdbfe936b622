#include "app/language.h"

#include "app/paths.h"
#include "app/text_number.h"

#include <fstream>

int32_t LanguageFromStream(std::istream& file)
{
    const std::istream::int_type first = file.get();
    return first == std::istream::traits_type::eof() ? -1 : static_cast<unsigned char>(first);
}

bool ReadLanguageFile(const std::string& folder, int32_t& language)
{
    std::ifstream file(JoinPath(folder, "misc\\sabbel.dat"), std::ios::binary);
    if (!file)
        return false;
    language = LanguageFromStream(file);
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
