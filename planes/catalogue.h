// The online catalogue of designs, fetched a page at a time and kept in App.CatalogueEntries.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>

#include "planes/catalogue_text.h"

// True when the exchange was answered; body then holds the answer.
bool RequestCataloguePage(int32_t from, int32_t count, std::string& body);
// Shows the page from memory or fetches it; false (nothing changed) when that failed.
bool ShowCataloguePage(HWND list, int32_t from, int32_t count);
