// Digests the sample of ordinary mail at build time, so that the program need not build an
// automaton over all of it on every run: writes a C++ source with the sample's message count
// and, per letter-case rule, the longest strings within one line that enough of its messages
// contain. An entry is over-broad exactly when it is part of one of them, since every part of
// a string that k messages contain is contained by k messages too.
//   ordinary_mail_digest SAMPLE OUTPUT
#include "OrdinarySample.h"
#include "SuffixAutomaton.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The strings, longest first, none a part of another, that OverBroadLeast of the messages
// contain within one line.
std::vector<std::string> MaximalFrequentStrings(const std::vector<std::string>& messages) {
    const std::vector<std::string_view> documents(messages.begin(), messages.end());
    std::vector<std::string_view> candidates;
    // Entries hold no line end, so of each piece only the part after its last line end is
    // kept: a frequent string in an earlier line ends the piece of its own state.
    for (std::string_view piece :
         FrequentStrings(documents, OverBroadLeast(static_cast<int>(messages.size())))) {
        if (const std::size_t end = piece.find_last_of("\r\n"); end != std::string_view::npos)
            piece.remove_prefix(end + 1);
        if (!piece.empty()) candidates.push_back(piece);
    }
    std::sort(candidates.begin(), candidates.end(), [](std::string_view a, std::string_view b) {
        return a.size() != b.size() ? a.size() > b.size() : a < b;
    });
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    std::vector<std::string> kept;
    std::string joined; // the kept strings, each followed by LF, which none holds
    for (const std::string_view c : candidates) {
        if (joined.find(c) != std::string::npos) continue;
        kept.emplace_back(c);
        joined.append(c).push_back('\n');
    }
    return kept;
}

// A C++ string literal for the text followed by LF.
std::string Literal(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c >= ' ' && c <= '~') {
            out += c;
        } else { // three octal digits: a following digit cannot join the escape
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\%03o", static_cast<unsigned char>(c));
            out += escape;
        }
    }
    return out + "\\n\"";
}

void WriteArray(std::ostream& out, const char* name, const std::vector<std::string>& strings) {
    out << "const char " << name << "[] =";
    if (strings.empty()) out << " \"\"";
    for (const std::string& s : strings)
        out << "\n    " << Literal(s);
    out << ";\n";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: ordinary_mail_digest SAMPLE OUTPUT\n");
        return 2;
    }
    try {
        std::ifstream in(argv[1], std::ios::binary);
        const std::string file{std::istreambuf_iterator<char>(in), {}};
        if (!in) throw std::runtime_error(std::string("cannot read ") + argv[1]);
        const std::vector<std::string> messages = SampleMessages(file);
        std::vector<std::string> folded = messages;
        for (std::string& m : folded)
            for (char& c : m)
                c = static_cast<char>(FoldCase(static_cast<unsigned char>(c), true));

        std::ostringstream out;
        out << "// Generated at build time by ordinary_mail_digest from ordinary-headers.txt; "
               "do not edit.\n#include \"config/OrdinarySample.h\"\n\nnamespace {\n";
        WriteArray(out, "kCaseKept", MaximalFrequentStrings(messages));
        WriteArray(out, "kCaseFolded", MaximalFrequentStrings(folded));
        out << "} // namespace\n\nint DigestedSampleSize() {\n    return " << messages.size()
            << ";\n}\n\nstd::string_view DigestedFrequentStrings(bool ignoreCase) {\n"
               "    return ignoreCase ? std::string_view(kCaseFolded, sizeof kCaseFolded - 1)\n"
               "                      : std::string_view(kCaseKept, sizeof kCaseKept - 1);\n}\n";
        std::ofstream written(argv[2], std::ios::binary | std::ios::trunc);
        written << out.str();
        if (!written.flush()) throw std::runtime_error(std::string("cannot write ") + argv[2]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ordinary_mail_digest: %s\n", e.what());
        std::remove(argv[2]); // no half-written source for the next build to take as done
        return 1;
    }
    return 0;
}
