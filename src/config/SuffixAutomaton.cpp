#include "SuffixAutomaton.h"

#include <algorithm>
#include <stdexcept>

SuffixAutomaton::SuffixAutomaton(const std::vector<std::string_view>& documents) {
    std::size_t bytes = 0;
    for (const std::string_view d : documents)
        bytes += d.size() + 1;
    // A suffix automaton has fewer than two states and three edges per byte of its text;
    // targets are packed in 24 bits.
    if (2 * bytes >= (1u << 24)) throw std::length_error("documents too large");
    // Reserved, not touched: growing would copy, and fresh pages cost more than the work.
    states_.reserve(2 * bytes);
    tables_.reserve(bytes / 16 * kTable);
    AddState(0, -1);
    for (const std::string_view d : documents) {
        for (const char c : d) {
            if (static_cast<unsigned char>(c) >= kTable)
                throw std::invalid_argument("document not 7-bit");
            Extend(static_cast<unsigned char>(c));
        }
        Extend(0);
    }
    Pack();
}

std::int32_t SuffixAutomaton::Target(std::int32_t state, unsigned char byte) const {
    const State& s = states_[state];
    if (s.edge[0] == kHasTable) return byte < kTable ? tables_[s.edge[1] + byte] : -1;
    for (const std::uint32_t e : s.edge)
        if (e != 0 && (e & 0xff) == byte) return static_cast<std::int32_t>(e >> 8);
    return -1;
}

void SuffixAutomaton::SetTarget(std::int32_t state, unsigned char byte, std::int32_t to) {
    State& s = states_[state];
    if (s.edge[0] == kHasTable) {
        tables_[s.edge[1] + byte] = to;
        return;
    }
    for (std::uint32_t& e : s.edge)
        if (e != 0 && (e & 0xff) == byte) e = static_cast<std::uint32_t>(to) << 8 | byte;
}

std::int32_t SuffixAutomaton::AddState(std::int32_t length, std::int32_t link) {
    states_.push_back({length, link, {0, 0}});
    return static_cast<std::int32_t>(states_.size() - 1);
}

void SuffixAutomaton::AddEdge(std::int32_t from, unsigned char byte, std::int32_t to) {
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

std::int32_t SuffixAutomaton::Clone(std::int32_t of, std::int32_t length) {
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
void SuffixAutomaton::Extend(unsigned char byte) {
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

void SuffixAutomaton::Pack() {
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
    packed_.reserve(3 * states_.size() / 2); // more than a text needs; not touched
    start_.assign(states_.size() + 1, 0);
    for (std::size_t s = 0; s < states_.size(); ++s) {
        start_[s] = static_cast<std::uint32_t>(packed_.size());
        forEdges(states_[s], [&](std::uint32_t e) { packed_.push_back(e); });
    }
    start_[states_.size()] = static_cast<std::uint32_t>(packed_.size());
    for (int b = 0; b < 256; ++b)
        startNext_[b] = Target(0, static_cast<unsigned char>(b));
    tables_ = {};
}

std::int32_t SuffixAutomaton::Next(std::int32_t state, unsigned char byte) const {
    if (state == 0) return startNext_[byte];
    for (std::uint32_t e = start_[state]; e < start_[state + 1]; ++e)
        if ((packed_[e] & 0xff) == byte) return static_cast<std::int32_t>(packed_[e] >> 8);
    return -1;
}

// A document holds the strings of every state on the suffix-link chains of the states its
// prefixes reach; each chain is climbed only as far as the first state this document has
// already counted. A state's first count also gives a place where its strings end.
std::vector<std::string_view> FrequentStrings(const std::vector<std::string_view>& documents,
                                              int least) {
    SuffixAutomaton a(documents);
    // The edges are packed: each state's first now holds the last document that counted it,
    // beside its link, so a climb touches little else.
    constexpr std::uint32_t kNoDocument = 0xffffffff;
    for (SuffixAutomaton::State& s : a.states_)
        s.edge[0] = kNoDocument;
    std::vector<std::uint32_t> count(a.states_.size(), 0);
    std::vector<std::string_view> found;
    for (std::uint32_t d = 0; d < documents.size(); ++d) {
        const std::string_view text = documents[d];
        std::int32_t state = 0;
        for (std::size_t end = 1; end <= text.size(); ++end) {
            state = a.Next(state, static_cast<unsigned char>(text[end - 1]));
            for (std::int32_t s = state; s > 0 && a.states_[s].edge[0] != d;
                 s = a.states_[s].link) {
                a.states_[s].edge[0] = d;
                if (++count[s] != static_cast<std::uint32_t>(least)) continue;
                // The longest string may reach back over NULs into earlier documents; only
                // its part in this one is a string of the documents.
                const std::size_t length = std::min<std::size_t>(a.states_[s].length, end);
                found.push_back(text.substr(end - length, length));
            }
        }
    }
    return found;
}
