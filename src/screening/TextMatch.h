#pragma once

#include <string>
#include <vector>

namespace screening {

// ASCII-only lower case: "A".."Z" become "a".."z"; every other byte, including letters
// above code 127, stays as it is.
std::string LowerCase(std::string text);

// 1-based byte offset of the first occurrence of sub in text; 0 when it does not occur.
// An empty sub or an empty text always gives 0, so an empty list entry never matches.
std::size_t Pos(const std::string& sub, const std::string& text);

// The header lines joined, each followed by CR LF.
std::string HeaderText(const std::vector<std::string>& lines);

} // namespace screening
