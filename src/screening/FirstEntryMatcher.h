#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace screening {

// Finds, in one pass over a text, the first entry of a list (in list order) that occurs
// in the text, using an Aho-Corasick automaton over all entries. It answers exactly what
// "for each entry in order: if Pos(entry, text) >= minPos return it" answers, including
// the rule that only an entry's FIRST occurrence counts. Empty entries never match.
//
// The automaton is built for one list content and letter-case mode and kept until either
// changes, so a 10,000-entry list costs one build, not one per message.
class FirstEntryMatcher {
  public:
    static constexpr long kNoMatch = -1;

    // Called every few thousand steps of long work (building, searching) so the caller can
    // let the event loop run. The matcher works on its own copy of the list, so whatever
    // runs there cannot disturb it.
    std::function<void()> OnIdle;

    // Makes the matcher answer for this list and mode; rebuilds only on a change. With
    // ignoreCase, entries and text are compared after ASCII lower-casing. A stamp, when
    // given, identifies the list's content (a new one for every change, as
    // TConfigData::ListsStamp gives): the stamp and size of the last call spare comparing
    // the whole list with the matcher's copy. Without one the list is compared in full.
    void Prepare(const std::vector<std::string>& entries, bool ignoreCase,
                 std::optional<std::uint64_t> stamp = std::nullopt);

    // Index of the first entry whose first occurrence starts at 1-based position minPos
    // or later, or kNoMatch.
    long FirstMatch(const std::string& text, std::size_t minPos);

    std::size_t Count() const { return entries_.size(); }
    // The entry as it was given (its own letter case).
    const std::string& Entry(std::size_t index) const { return entries_[index]; }

  private:
    struct Node {
        std::uint32_t firstEdge = 0; // children are edges_[firstEdge, firstEdge + edgeCount)
        std::uint32_t edgeCount = 0;
        std::int32_t fail = 0;
        std::int32_t outLink = -1; // nearest node on the fail chain that ends an entry
        std::int32_t entry = -1;   // lowest list index of the entry ending here
        std::int32_t report = -1;  // this node if it ends an entry, else outLink
        std::uint32_t depth = 0;
    };
    struct Edge {
        unsigned char byte;
        std::int32_t target;
    };

    void Build();
    std::int32_t Child(std::int32_t node, unsigned char byte) const;
    // The state after `byte` from a state other than the root.
    std::int32_t Next(std::int32_t state, unsigned char byte) const;
    void Idle();

    std::vector<std::string> entries_;
    bool ignoreCase_ = false;
    std::optional<std::uint64_t> stamp_;
    bool built_ = false;
    unsigned char fold_[256];
    std::vector<Node> nodes_;
    std::vector<Edge> edges_;
    std::int32_t rootNext_[256];
    std::vector<std::uint32_t> seen_; // per node: the search generation that last met it
    std::uint32_t generation_ = 0;
};

} // namespace screening
