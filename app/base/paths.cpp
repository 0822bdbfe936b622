#include "app/base/paths.h"

#include <cstring>

bool EndsWithSeparator(const std::string& path)
{
    return !path.empty() && (path.back() == '\\' || path.back() == '/');
}

bool EnsureTrailingSeparator(std::string& path)
{
    if (EndsWithSeparator(path))
        return false;
    path += '\\';
    return true;
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    std::string path = folder;
    EnsureTrailingSeparator(path);
    return path + name;
}

bool CopyToBuffer(char* buffer, std::size_t size, const std::string& text)
{
    if (size == 0 || text.size() >= size)
        return false;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}
