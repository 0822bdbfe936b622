// Folder and file name helpers. No <windows.h> here.
#pragma once
#include <cstddef>
#include <string>

// True when the text's last character is a backslash or a slash.
bool EndsWithSeparator(const std::string& path);

// Appends a backslash unless the path ends in one or in a slash; true when it appended.
bool EnsureTrailingSeparator(std::string& path);

// folder + separator (unless it ends in one) + name.
std::string JoinPath(const std::string& folder, const std::string& name);

// Copies text into a fixed buffer of size bytes. Refuses (returns false, buffer untouched)
// when it does not fit with its terminator, so a long path is never written past the buffer.
bool CopyToBuffer(char* buffer, std::size_t size, const std::string& text);
