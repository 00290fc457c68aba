#pragma once

#include "EntrySort.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace screening {

// Finds, in one pass over a text, the first entry of a list (in list order) that occurs
// in the text, using an Aho-Corasick automaton over all entries. It answers exactly what
// "for each entry in order: if Pos(entry, text) >= minPos return it" answers, including
// the rule that only an entry's FIRST occurrence counts. Empty entries never match.
//
// The automaton is built for one list content and letter-case mode and kept until either
// changes, so a 10,000-entry list costs one build, not one per message. It holds each entry
// only as far as the entry differs from all others (a list of mail addresses needs one or
// two states per entry, not one per byte); the rest of an entry is compared with the text
// where that distinguishing prefix occurs. That keeps the build to a few milliseconds and
// the automaton small enough to stay in the processor's caches.
class FirstEntryMatcher {
  public:
    static constexpr long kNoMatch = -1;

    // Makes the matcher answer for this list and mode; rebuilds only on a change. With
    // ignoreCase, entries and text are compared after ASCII lower-casing. A stamp, when
    // given, identifies the list's content (a new one for every change, as
    // TConfigData::ListsStamp gives): the stamp and size of the last call spare comparing
    // the whole list with the matcher's copy. Without one the list is compared in full.
    void Prepare(const std::vector<std::string>& entries, bool ignoreCase,
                 std::optional<std::uint64_t> stamp = std::nullopt);

    // Index of the first entry whose first occurrence starts at 1-based position minPos
    // or later, or kNoMatch. With `start`, a match also gives where that occurrence starts
    // (1-based).
    long FirstMatch(const std::string& text, std::size_t minPos, std::size_t* start = nullptr);

    std::size_t Count() const { return ends_.size(); }
    // The entry as it was given (its own letter case).
    std::string_view Entry(std::size_t index) const {
        return std::string_view(pool_).substr(Start(index), ends_[index] - Start(index));
    }

  private:
    std::size_t Start(std::size_t index) const { return index == 0 ? 0 : ends_[index - 1]; }
    // A state of the automaton: a prefix of one or more entries. States are numbered
    // breadth first, so a state's children are the consecutive states
    // [firstChild, firstChild + childCount), in the order of their bytes.
    struct Node {
        // A tail leaf has no children and holds its depth here; a state that ends a whole
        // entry has that entry's length as its depth.
        std::uint32_t firstChild = 0;
        std::int32_t fail = 0;
        std::int32_t entry = -1; // lowest list index of the entry ending here, or the one
                                 // entry that continues below this leaf (a "tail" leaf)
        // The nearest state on the fail chain, this one excluded, that ends a whole entry
        // (outLink) or is a tail leaf (checkLink); -1 for none.
        std::int32_t outLink = -1;
        std::int32_t checkLink = -1;
        std::uint16_t childCount = 0;
        enum : std::uint8_t { kInner, kEnds, kTail } kind = kInner;
    };
    // The first state of the chain from `id`, this one included, that ends a whole entry or
    // that is a tail leaf.
    std::int32_t Report(std::int32_t id) const {
        return nodes_[id].kind == Node::kEnds ? id : nodes_[id].outLink;
    }
    std::int32_t Check(std::int32_t id) const {
        return nodes_[id].kind == Node::kTail ? id : nodes_[id].checkLink;
    }

    bool Holds(const std::vector<std::string>& entries) const;
    void Build();
    void BuildTrie();
    void BuildLinks();
    std::int32_t Child(std::int32_t node, unsigned char byte) const;
    // The state after `byte` from a state other than the root.
    std::int32_t Next(std::int32_t state, unsigned char byte) const;
    // Does the rest of the tail leaf's entry follow in the text at `at` (0-based)?
    bool TailFollows(const Node& leaf, const unsigned char* text, std::size_t size,
                     std::size_t at) const;

    // The matcher's copy of the list: the entries end to end, entry i ending at ends_[i].
    std::string pool_;
    std::vector<std::uint32_t> ends_;
    bool ignoreCase_ = false;
    std::optional<std::uint64_t> stamp_;
    bool built_ = false;
    unsigned char fold_[256];
    std::vector<Node> nodes_;
    std::vector<unsigned char> byteOf_; // per state: the byte on the edge into it
    // The sort's memory. A matcher built once (one check run, one block of the update merge)
    // gives it back; one that is rebuilt keeps it from then on, so that its later rebuilds
    // touch no fresh pages.
    SortedEntries sorted_;
    bool builtBefore_ = false;
    std::int32_t rootNext_[256];
    std::vector<std::uint32_t> seen_; // per node: the search generation that last met it
    std::uint32_t generation_ = 0;
};

} // namespace screening
