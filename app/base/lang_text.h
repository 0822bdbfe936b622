// Localized texts from the executable's string table, in the installation's language.
#pragma once
#include <string>
#include <string_view>

// Returns App.TextBuffer holding the text of baseId in the chosen language block,
// falling back to German, then to "Internal error". Valid until the next call.
const char* LoadLangString(int baseId);

// The same text as LoadLangString, in UTF-16 as the string table holds it, for what reads it
// in every language whatever the ANSI code page (screen readers): the row itself, not a copy.
std::wstring_view LoadLangStringW(int baseId);

// A text outside the language blocks, the same in every language ("" when missing).
std::string LoadFixedString(int id);
