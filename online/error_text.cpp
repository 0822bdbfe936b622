#include "online/error_text.h"

std::string LastPathComponent(const std::string& path)
{
    const std::size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string ErrorCodeText(int code)
{
    return std::to_string(code);
}

std::string ComposeErrorText(const ErrorTextParts& parts)
{
    return parts.Message + "\r\n\r\n" + parts.ErrorWord + "\t" + parts.Value + "\r\n" + parts.LineLabel + "\t"
         + std::to_string(parts.Line) + "\r\n" + parts.FileLabel + "\t" + LastPathComponent(parts.File);
}
