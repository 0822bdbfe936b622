// The text of the error box, composed from its parts. No <windows.h> here.
#pragma once
#include <string>

struct ErrorTextParts {
    std::string Message;     // localized message
    std::string ErrorWord;   // "Error:" in the chosen language
    std::string Value;       // the code as a decimal number, or the server's text as sent
    int Line = 0;
    std::string File;        // a source path; only its last component is shown
    std::string LineLabel;   // "Line:" and "File:", the same in every language
    std::string FileLabel;
};

// message, blank line, then word/value, line and file, each label followed by a tab.
std::string ComposeErrorText(const ErrorTextParts& parts);

// A system or Internet error code as shown: signed decimal, no leading zeros.
std::string ErrorCodeText(int code);

// The part after the last backslash or slash; the whole path when it holds neither.
std::string LastPathComponent(const std::string& path);
