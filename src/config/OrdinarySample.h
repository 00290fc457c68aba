#pragma once

#include <string>
#include <string_view>
#include <vector>

// What the program and the tool that digests the sample at build time (ordinary_mail_digest)
// both need to know about the sample of ordinary mail.

// The sample's messages, each as the header text a scan searches: its lines joined, each
// followed by CR LF, and the empty line that ends a header. In `file` the blocks are separated
// by one empty line and lines end in LF.
std::vector<std::string> SampleMessages(std::string_view file);

// Letters A to Z as a to z when ignoreCase is set.
inline unsigned char FoldCase(unsigned char c, bool ignoreCase) {
    return ignoreCase && c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// An entry is over-broad when at least a quarter of the sample's messages contain it.
inline int OverBroadLeast(int messages) {
    return (messages + 3) / 4;
}

// Written at build time by ordinary_mail_digest from the sample: the number of its messages,
// and per letter-case rule the longest strings, within one line, that OverBroadLeast of them
// contain (folded when ignoreCase), each followed by LF; none is part of another.
int DigestedSampleSize();
std::string_view DigestedFrequentStrings(bool ignoreCase);
