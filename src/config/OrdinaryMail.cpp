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
    // While building, a state holds up to two edges itself, each its target shifted left by
    // 8 with its byte below (0 for none: no edge leads back to the start state), and moves
    // them to a table of all 128 bytes when a third comes. Most states have one or two
    // edges, so a step of the construction finds all it reads of a state in 16 bytes.
    static constexpr std::uint32_t kHasTable = 0xffffffff; // in edge[0]; edge[1]: where
    struct State {
        std::int32_t length;
        std::int32_t link;
        std::uint32_t edge[2];
    };

    // The target of the state's edge for `byte`, or -1 when it has none.
    std::int32_t Target(std::int32_t state, unsigned char byte) const;
    void SetTarget(std::int32_t state, unsigned char byte, std::int32_t to);
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
    static constexpr int kTable = 128; // the sample is 7-bit text
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
    // Reserved, not touched: growing would copy, and fresh pages cost more than the work.
    states_.reserve(2 * bytes);
    tables_.reserve(bytes / 16 * kTable);
    AddState(0, -1);
    for (const std::string& m : messages) {
        for (const char c : m) {
            if (static_cast<unsigned char>(c) >= kTable)
                throw std::invalid_argument("sample not 7-bit");
            Extend(Fold(static_cast<unsigned char>(c), ignoreCase_));
        }
        Extend(0);
    }
    Pack();
    CountMessages(messages);
}

std::int32_t SampleAutomaton::Target(std::int32_t state, unsigned char byte) const {
    const State& s = states_[state];
    if (s.edge[0] == kHasTable) return byte < kTable ? tables_[s.edge[1] + byte] : -1;
    for (const std::uint32_t e : s.edge)
        if (e != 0 && (e & 0xff) == byte) return static_cast<std::int32_t>(e >> 8);
    return -1;
}

void SampleAutomaton::SetTarget(std::int32_t state, unsigned char byte, std::int32_t to) {
    State& s = states_[state];
    if (s.edge[0] == kHasTable) {
        tables_[s.edge[1] + byte] = to;
        return;
    }
    for (std::uint32_t& e : s.edge)
        if (e != 0 && (e & 0xff) == byte) e = static_cast<std::uint32_t>(to) << 8 | byte;
}

std::int32_t SampleAutomaton::AddState(std::int32_t length, std::int32_t link) {
    states_.push_back({length, link, {0, 0}});
    return static_cast<std::int32_t>(states_.size() - 1);
}

void SampleAutomaton::AddEdge(std::int32_t from, unsigned char byte, std::int32_t to) {
    State& s = states_[from];
    if (s.edge[0] != kHasTable) {
        for (std::uint32_t& e : s.edge)
            if (e == 0) {
                e = static_cast<std::uint32_t>(to) << 8 | byte;
                return;
            }
        const std::uint32_t table = static_cast<std::uint32_t>(tables_.size());
        tables_.resize(tables_.size() + kTable, -1);
        for (const std::uint32_t e : s.edge)
            tables_[table + (e & 0xff)] = static_cast<std::int32_t>(e >> 8);
        s.edge[0] = kHasTable;
        s.edge[1] = table;
    }
    tables_[s.edge[1] + byte] = to;
}

std::int32_t SampleAutomaton::Clone(std::int32_t of, std::int32_t length) {
    const std::int32_t clone = AddState(length, states_[of].link);
    State& c = states_[clone];
    c.edge[0] = states_[of].edge[0];
    c.edge[1] = states_[of].edge[1];
    if (c.edge[0] == kHasTable) {
        c.edge[1] = static_cast<std::uint32_t>(tables_.size());
        tables_.resize(tables_.size() + kTable);
        std::copy_n(tables_.begin() + states_[of].edge[1], kTable, tables_.begin() + c.edge[1]);
    }
    return clone;
}

// The classic online construction: one byte more of the text.
void SampleAutomaton::Extend(unsigned char byte) {
    const std::int32_t cur = AddState(states_[last_].length + 1, 0);
    std::int32_t p = last_;
    while (p >= 0 && Target(p, byte) < 0) {
        AddEdge(p, byte, cur);
        p = states_[p].link;
    }
    if (p >= 0) {
        const std::int32_t q = Target(p, byte);
        if (states_[p].length + 1 == states_[q].length) {
            states_[cur].link = q;
        } else {
            const std::int32_t clone = Clone(q, states_[p].length + 1);
            for (; p >= 0 && Target(p, byte) == q; p = states_[p].link)
                SetTarget(p, byte, clone);
            states_[q].link = states_[cur].link = clone;
        }
    }
    last_ = cur;
}

void SampleAutomaton::Pack() {
    // Each state's edges, in the order of their bytes where it has a table.
    auto forEdges = [this](const State& state, auto&& f) {
        if (state.edge[0] != kHasTable) {
            for (const std::uint32_t e : state.edge)
                if (e != 0) f(e);
            return;
        }
        for (int b = 0; b < kTable; ++b)
            if (const std::int32_t to = tables_[state.edge[1] + b]; to >= 0)
                f(static_cast<std::uint32_t>(to) << 8 | static_cast<std::uint32_t>(b));
    };
    packed_.clear();
    packed_.reserve(3 * states_.size() / 2); // more than a sample's text needs; not touched
    start_.assign(states_.size() + 1, 0);
    for (std::size_t s = 0; s < states_.size(); ++s) {
        start_[s] = static_cast<std::uint32_t>(packed_.size());
        forEdges(states_[s], [&](std::uint32_t e) { packed_.push_back(e); });
    }
    start_[states_.size()] = static_cast<std::uint32_t>(packed_.size());
    for (int b = 0; b < 256; ++b)
        startNext_[b] = Target(0, static_cast<unsigned char>(b));
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
    // The edges are packed: each state's first now holds the last message that counted it,
    // beside its link, so a climb touches little else.
    tables_ = {};
    constexpr std::uint32_t kNoMessage = 0xffffffff;
    for (State& s : states_)
        s.edge[0] = kNoMessage;
    count_.assign(states_.size(), 0);
    for (std::int32_t m = 0; m < static_cast<std::int32_t>(messages.size()); ++m) {
        std::int32_t state = 0;
        for (const char c : messages[m]) {
            state = Next(state, Fold(static_cast<unsigned char>(c), ignoreCase_));
            for (std::int32_t s = state; s > 0 && states_[s].edge[0] != std::uint32_t(m);
                 s = states_[s].link) {
                states_[s].edge[0] = static_cast<std::uint32_t>(m);
                ++count_[s];
            }
        }
    }
    states_ = {};
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
