#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// A suffix automaton over documents of 7-bit text, joined with NUL bytes (which they must not
// hold): every substring of a document is a walk from state 0, one step per byte, so whether
// a text occurs costs one step per byte of it, whatever the documents' size.
class SuffixAutomaton {
  public:
    // Throws std::invalid_argument for bytes of 128 and above, std::length_error when the
    // documents are too large for 24-bit state numbers.
    explicit SuffixAutomaton(const std::vector<std::string_view>& documents);

    // Where the walk from `state` by `byte` leads; -1 when no document holds that string.
    std::int32_t Next(std::int32_t state, unsigned char byte) const;

  private:
    friend std::vector<std::string_view>
    FrequentStrings(const std::vector<std::string_view>& documents, int least);

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

    // Built: the edges of state s are packed_[start_[s] .. start_[s + 1]), each its target
    // shifted left by 8 with its byte below; the start state's are also in startNext_.
    std::vector<std::uint32_t> start_;
    std::vector<std::uint32_t> packed_;
    std::int32_t startNext_[256];
    // Lengths and links stay for FrequentStrings; the edges inside are spent by then.
    std::vector<State> states_;
    std::vector<std::int32_t> tables_; // needed while building only
    static constexpr int kTable = 128;
    std::int32_t last_ = 0;
};

// The pieces of the documents that at least `least` of them contain, as views into them: for
// each group of strings that the same places end, the longest, cut where its document
// starts. Every string that `least` (at least 1) documents contain is a suffix of one of them.
std::vector<std::string_view> FrequentStrings(const std::vector<std::string_view>& documents,
                                              int least);
