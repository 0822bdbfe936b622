// Host and script names: starter.dat beside the program, then the registry, then the default.
#pragma once
#include <string>

bool ReadServerSetting(const char* name, const char* defaultValue, std::string& value);
// The same, as the value itself.
std::string ServerSetting(const char* name, const char* defaultValue);
