#pragma once

#include <string>
#include <vector>

namespace screening {

// ASCII-only lower case: "A".."Z" become "a".."z"; every other byte, including letters
// above code 127, stays as it is.
std::string LowerCase(std::string text);

// The header lines joined, each followed by CR LF.
std::string HeaderText(const std::vector<std::string>& lines);

} // namespace screening
