// Query escaping and error-page detection for the web exchange. No <windows.h> here.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Letters stay, ' and " are dropped, every other byte becomes % and two lower-case hex digits.
std::string EncodeField(std::string_view text);

// Positions of the "<" and the ">" of a tag.
struct TagSpan {
    std::size_t Open;
    std::size_t Close;
};

// The first tag whose brackets hold exactly the name (case ignored); nothing when there is none.
std::optional<TagSpan> FindTag(std::string_view text, std::string_view name);

// True and the text between <title> and </title> when the body holds a title element.
// A closing tag before the opening one lets the title run to the end of the body.
bool FindTitle(std::string_view body, std::string& title);

// What a refusal shows in place of an error code: the status line ("400 Bad Request"), and on
// a second line the first line of the body when that body is short plain text (the server's
// one-line reason), cut to ReasonLength characters with everything but printable ASCII dropped.
constexpr std::size_t ReasonLength = 200;
constexpr std::size_t ShortBodyLength = 1024;
std::string RefusalText(std::string_view statusLine, std::string_view contentType, std::string_view body);
