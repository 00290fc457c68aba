#pragma once

#include <string>

namespace screening {

// A header value as a person reads it, in UTF-8: its encoded words (=?charset?B?...?= and
// =?charset?Q?...?=) decoded in their charsets, the blanks between two of them dropped.
// A word in a charset this system does not know, or not validly encoded, stays as it came;
// bytes outside encoded words that are not UTF-8 are read as Latin-1.
std::string DecodeHeaderText(const std::string& raw);

} // namespace screening
