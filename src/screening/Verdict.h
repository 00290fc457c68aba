#pragma once

#include <string>

namespace screening {

// What the screening made of one message's headers. The scan shows and logs its texts from
// it; it is plain data, so a result kept per message or per cached header stays valid after
// the header lines are gone.
struct TVerdict {
    enum Kind {
        Ok,            // a known sender (the address in entry) and no spammer entry found
        UnknownSender, // the address check found none of the user's addresses
        Spammer,       // the spammer entry in entry occurs in the headers
        CheckSkipped,  // the address check is off and no spammer entry was found
    };
    Kind kind = CheckSkipped;
    // The list entry that matched, as stored in its list; empty when none did.
    std::string entry;
    // Index into the header lines of the line where the match starts; -1 when none did.
    int headerLine = -1;

    // The message may stay: nothing in its headers marks it as spam.
    bool Passed() const { return kind == Ok || kind == CheckSkipped; }
};

} // namespace screening
