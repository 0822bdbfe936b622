// The installation's language: autorun.inf beside the Starter, else the first byte of
// misc\sabbel.dat in the Starter's folder or in the game folder, else English.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

constexpr int32_t EnglishLanguage = 1;

// Sets App.LanguageIndex; needs App.StarterDir and App.GamePath.
void ReadLanguage();

// The first byte as an unsigned value, or -1 when there is none.
int32_t LanguageFromBytes(std::string_view head);

// False when folder\misc\sabbel.dat does not open.
bool ReadLanguageFile(const std::string& folder, int32_t& language);

// The sources in order of precedence. A profile value that is not empty gives its leading
// number; an empty one counts as absent, and so does an empty game folder.
int32_t ChooseLanguage(const std::string& profileValue, const std::string& starterDir, const std::string& gamePath);
