#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace screening {

// A list's entries in the order of their folded bytes, with what a trie built over them in
// that order needs: where each differs from the one before.
struct SortedEntries {
    struct Key {
        std::uint64_t high; // eight folded bytes of the entry from offsets[k] on, big-endian,
                            // zeros past its end
        std::uint32_t index, length;
    };
    std::vector<Key> keys; // the non-empty entries; equal entries in list order
    // [k]: the common prefix of keys k - 1 and k; 0 at both ends (keys.size() + 1 values)
    std::vector<std::uint32_t> common;
    std::vector<std::uint32_t> offsets; // [k]: where keys[k].high starts in its entry
    // The sort's working space, kept with the result: the next sort in the same place then
    // reuses its memory instead of touching fresh pages.
    std::vector<Key> spare;
    std::vector<std::uint32_t> slots;
};

// Sorts into `sorted`, whatever it held. `pool` holds the entries end to end, entry i
// ending at ends[i]. Bytes are compared as `fold` maps them; ignoreCase says it maps 'A' to
// 'Z' to lower case and nothing else.
void SortEntries(std::string_view pool, const std::vector<std::uint32_t>& ends,
                 const unsigned char (&fold)[256], bool ignoreCase, SortedEntries& sorted);

} // namespace screening
