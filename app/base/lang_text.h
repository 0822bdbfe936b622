// Localized texts from the executable's string table, in the installation's language.
#pragma once
#include <string>

// Returns App.TextBuffer holding the text of baseId in the chosen language block,
// falling back to German, then to "Internal error". Valid until the next call.
const char* LoadLangString(int baseId);

// A text outside the language blocks, the same in every language ("" when missing).
std::string LoadFixedString(int id);
