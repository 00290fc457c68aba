#include "OrdinaryMail.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The sample's messages, each as the header text a scan searches: its lines joined, each
// followed by CR LF, and the empty line that ends a header. In the file the blocks are
// separated by one empty line and lines end in LF.
std::vector<std::string> SampleMessages() {
    std::vector<std::string> messages;
    const std::string_view file = OrdinaryHeadersText();
    std::string text;
    std::size_t at = 0;
    while (at < file.size()) {
        std::size_t end = file.find('\n', at);
        if (end == std::string_view::npos) end = file.size();
        const std::string_view line = file.substr(at, end - at);
        at = end + 1;
        if (!line.empty()) {
            text.append(line).append("\r\n");
            continue;
        }
        if (!text.empty()) messages.push_back(text + "\r\n");
        text.clear();
    }
    if (!text.empty()) messages.push_back(text + "\r\n");
    return messages;
}

unsigned char Fold(unsigned char c, bool ignoreCase) {
    return ignoreCase && c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// A suffix automaton over all the sample's messages (joined with NUL bytes, which no header
// holds), in which every state knows in how many distinct messages its strings occur. Every
// substring of the sample is a walk from the start state, so measuring an entry costs one
// step per byte, whatever the list's length.
class SampleAutomaton {
  public:
    explicit SampleAutomaton(bool ignoreCase);
    int MessagesContaining(std::string_view text) const;

  private:
    // While building, a state holds its first few edges itself and moves them to a table of
    // all 256 bytes when one more comes: most states have one or two edges, and a step of
    // the construction then finds all it reads of a state in one place.
    static constexpr int kInline = 3;
    struct State {
        std::int32_t length;
        std::int32_t link;
        std::int32_t table; // its offset in tables_, or -1
        std::uint8_t edges; // held inline, while it has no table
        unsigned char byte[kInline];
        std::int32_t to[kInline];
    };

    // Where the target of the state's edge for `byte` is held, or null when it has none.
    std::int32_t* Target(std::int32_t state, unsigned char byte);
    std::int32_t AddState(std::int32_t length, std::int32_t link);
    void AddEdge(std::int32_t from, unsigned char byte, std::int32_t to);
    // The new state has the edges of `of`.
    std::int32_t Clone(std::int32_t of, std::int32_t length);
    void Extend(unsigned char byte);
    // From the build's form to the packed form that lookups use.
    void Pack();
    std::int32_t Next(std::int32_t state, unsigned char byte) const;
    void CountMessages(const std::vector<std::string>& messages);

    bool ignoreCase_;
    // Built: the edges of state s are packed_[start_[s] .. start_[s + 1]), each its target
    // shifted left by 8 with its byte below; the start state's are also in startNext_.
    std::vector<std::uint32_t> start_;
    std::vector<std::uint32_t> packed_;
    std::int32_t startNext_[256];
    std::vector<std::uint8_t> count_; // per state: the messages holding its strings
    // Needed while building only.
    std::vector<State> states_;
    std::vector<std::int32_t> tables_;
    std::int32_t last_ = 0;
};

SampleAutomaton::SampleAutomaton(bool ignoreCase) : ignoreCase_(ignoreCase) {
    const std::vector<std::string> messages = SampleMessages();
    std::size_t bytes = 0;
    for (const std::string& m : messages)
        bytes += m.size() + 1;
    // A suffix automaton has fewer than two states and three edges per byte of its text;
    // targets are packed in 24 bits and counts in 8.
    if (2 * bytes >= (1u << 24) || messages.size() > 255)
        throw std::length_error("sample too large");
    states_.reserve(2 * bytes);
    AddState(0, -1);
    for (const std::string& m : messages) {
        for (const char c : m)
            Extend(Fold(static_cast<unsigned char>(c), ignoreCase_));
        Extend(0);
    }
    Pack();
    CountMessages(messages);
}

std::int32_t* SampleAutomaton::Target(std::int32_t state, unsigned char byte) {
    State& s = states_[state];
    if (s.table >= 0) {
        std::int32_t& to = tables_[s.table + byte];
        return to < 0 ? nullptr : &to;
    }
    for (int i = 0; i < s.edges; ++i)
        if (s.byte[i] == byte) return &s.to[i];
    return nullptr;
}

std::int32_t SampleAutomaton::AddState(std::int32_t length, std::int32_t link) {
    states_.push_back({length, link, -1, 0, {}, {}});
    return static_cast<std::int32_t>(states_.size() - 1);
}

void SampleAutomaton::AddEdge(std::int32_t from, unsigned char byte, std::int32_t to) {
    State& s = states_[from];
    if (s.table < 0 && s.edges < kInline) {
        s.byte[s.edges] = byte;
        s.to[s.edges++] = to;
        return;
    }
    if (s.table < 0) {
        s.table = static_cast<std::int32_t>(tables_.size());
        tables_.resize(tables_.size() + 256, -1);
        for (int i = 0; i < s.edges; ++i)
            tables_[s.table + s.byte[i]] = s.to[i];
        s.edges = 0;
    }
    tables_[s.table + byte] = to;
}

std::int32_t SampleAutomaton::Clone(std::int32_t of, std::int32_t length) {
    const std::int32_t clone = AddState(length, states_[of].link);
    State& c = states_[clone];
    const State& q = states_[of];
    if (q.table < 0) {
        c.edges = q.edges;
        std::copy(q.byte, q.byte + kInline, c.byte);
        std::copy(q.to, q.to + kInline, c.to);
    } else {
        c.table = static_cast<std::int32_t>(tables_.size());
        tables_.resize(tables_.size() + 256);
        std::copy_n(tables_.begin() + q.table, 256, tables_.begin() + c.table);
    }
    return clone;
}

// The classic online construction: one byte more of the text.
void SampleAutomaton::Extend(unsigned char byte) {
    const std::int32_t cur = AddState(states_[last_].length + 1, 0);
    std::int32_t p = last_;
    while (p >= 0 && !Target(p, byte)) {
        AddEdge(p, byte, cur);
        p = states_[p].link;
    }
    if (p >= 0) {
        const std::int32_t q = *Target(p, byte);
        if (states_[p].length + 1 == states_[q].length) {
            states_[cur].link = q;
        } else {
            const std::int32_t clone = Clone(q, states_[p].length + 1);
            for (std::int32_t* to; p >= 0 && (to = Target(p, byte)) && *to == q;
                 p = states_[p].link)
                *to = clone;
            states_[q].link = states_[cur].link = clone;
        }
    }
    last_ = cur;
}

void SampleAutomaton::Pack() {
    const std::size_t states = states_.size();
    start_.assign(states + 1, 0);
    packed_.clear();
    for (std::size_t s = 0; s < states; ++s) {
        start_[s] = static_cast<std::uint32_t>(packed_.size());
        const State& state = states_[s];
        auto add = [&](unsigned char byte, std::int32_t to) {
            packed_.push_back(static_cast<std::uint32_t>(to) << 8 | byte);
        };
        if (state.table < 0) {
            for (int i = 0; i < state.edges; ++i)
                add(state.byte[i], state.to[i]);
            continue;
        }
        for (int b = 0; b < 256; ++b)
            if (tables_[state.table + b] >= 0)
                add(static_cast<unsigned char>(b), tables_[state.table + b]);
    }
    start_[states] = static_cast<std::uint32_t>(packed_.size());
    packed_.shrink_to_fit(); // kept for the life of the process
    for (int b = 0; b < 256; ++b) {
        const std::int32_t* to = Target(0, static_cast<unsigned char>(b));
        startNext_[b] = to ? *to : -1;
    }
    tables_ = {};
}

std::int32_t SampleAutomaton::Next(std::int32_t state, unsigned char byte) const {
    if (state == 0) return startNext_[byte];
    for (std::uint32_t e = start_[state]; e < start_[state + 1]; ++e)
        if ((packed_[e] & 0xff) == byte) return static_cast<std::int32_t>(packed_[e] >> 8);
    return -1;
}

// A message holds the strings of every state on the suffix-link chains of the states its
// prefixes reach; each chain is climbed only as far as the first state this message has
// already counted.
void SampleAutomaton::CountMessages(const std::vector<std::string>& messages) {
    // Each state's link and the last message that counted it, side by side: the climbs
    // touch little else.
    struct Climb {
        std::int32_t link;
        std::int32_t counted;
    };
    std::vector<Climb> climbs(states_.size());
    for (std::size_t s = 0; s < states_.size(); ++s)
        climbs[s] = {states_[s].link, -1};
    states_ = {};
    count_.assign(climbs.size(), 0);
    for (std::int32_t m = 0; m < static_cast<std::int32_t>(messages.size()); ++m) {
        std::int32_t state = 0;
        for (const char c : messages[m]) {
            state = Next(state, Fold(static_cast<unsigned char>(c), ignoreCase_));
            for (std::int32_t s = state; s > 0 && climbs[s].counted != m; s = climbs[s].link) {
                climbs[s].counted = m;
                ++count_[s];
            }
        }
    }
}

int SampleAutomaton::MessagesContaining(std::string_view text) const {
    // A NUL would walk from one message into the next.
    if (text.empty() || text.find('\0') != std::string_view::npos) return 0;
    std::int32_t state = 0;
    for (const char c : text) {
        state = Next(state, Fold(static_cast<unsigned char>(c), ignoreCase_));
        if (state < 0) return 0;
    }
    return count_[state];
}

// Built on first use, once per letter-case rule, for the life of the process.
const SampleAutomaton& Sample(bool ignoreCase) {
    if (ignoreCase) {
        static const SampleAutomaton folded(true);
        return folded;
    }
    static const SampleAutomaton exact(false);
    return exact;
}

} // namespace

std::string_view MatchText(std::string_view entry) {
    const std::size_t first = entry.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return entry.substr(first, entry.find_last_not_of(" \t") - first + 1);
}

int OrdinaryMessagesContaining(std::string_view entry, bool ignoreCase) {
    const std::string_view text = MatchText(entry);
    return text.empty() ? 0 : Sample(ignoreCase).MessagesContaining(text);
}

int OrdinaryMailSampleSize() {
    static const int size = static_cast<int>(SampleMessages().size());
    return size;
}

bool IsOverBroadEntry(std::string_view entry, bool ignoreCase) {
    return 4 * OrdinaryMessagesContaining(entry, ignoreCase) >= OrdinaryMailSampleSize();
}
