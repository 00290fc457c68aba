#pragma once

#include "screening/FirstEntryMatcher.h"

#include <memory>
#include <string>
#include <vector>

namespace update {

// Answers "does any entry, ASCII lower-cased, occur inside this line, lower-cased the same
// way?" for a list that grows while it is asked, as the merge grows the spammers list.
// The entries sit in search automatons of doubling sizes (one for the list as it stood,
// then blocks of 16, 32, 64 ... added entries, merged like the digits of a binary counter),
// so n additions cost O(n log n) to index and each question O(log n) passes over the line,
// where comparing with every entry would cost the product of both lengths. The newest
// additions, fewer than 16, are compared one by one: an automaton for each would cost more
// to build than they cost to search.
class DuplicateIndex {
  public:
    explicit DuplicateIndex(const std::vector<std::string>& entries);
    ~DuplicateIndex();

    bool Covers(const std::string& line);
    void Add(const std::string& entry);

  private:
    using Block = screening::FirstEntryMatcher; // keeps its own copy of its entries
    std::unique_ptr<Block> MakeBlock(const std::vector<std::string>& entries);

    std::unique_ptr<Block> base_;
    std::vector<std::unique_ptr<Block>> blocks_; // each larger than the next one
    static constexpr std::size_t kLoose = 16;
    std::vector<std::string> loose_; // lower-cased, none empty
};

} // namespace update
