#pragma once

#include <string_view>

// A spammer entry is measured against a sample of ordinary, wanted mail that ships with the
// program (the header blocks of ordinary-headers.txt): an entry that a large share of those
// messages contain would, in the spammers list, call good mail spam and, in eat mode,
// delete it.

// The sample as shipped: header blocks separated by an empty line, lines ending in LF.
std::string_view OrdinaryHeadersText();

// The part of a list entry that takes part in matching: the entry without the blanks and
// tabs at either end. An entry with nothing left never matches.
std::string_view MatchText(std::string_view entry);

// How many of the sample's messages contain the text (its match text), comparing letters
// A to Z without regard to case when ignoreCase is set. 0 for an entry with no match text.
int OrdinaryMessagesContaining(std::string_view entry, bool ignoreCase);

// The number of messages in the sample.
int OrdinaryMailSampleSize();

// Whether at least a quarter of the sample's messages contain the entry.
bool IsOverBroadEntry(std::string_view entry, bool ignoreCase);
