#include "FirstEntryMatcher.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace screening {

namespace {
constexpr std::size_t kChildBlock = 16;

using Bytes = const unsigned char*;

Bytes BytesOf(std::string_view text) {
    return reinterpret_cast<Bytes>(text.data());
}
} // namespace

bool FirstEntryMatcher::Holds(const std::vector<std::string>& entries) const {
    if (entries.size() != ends_.size()) return false;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i] != Entry(i)) return false;
    return true;
}

void FirstEntryMatcher::Prepare(const std::vector<std::string>& entries, bool ignoreCase,
                                std::optional<std::uint64_t> stamp) {
    if (built_ && ignoreCase == ignoreCase_ && entries.size() == ends_.size()) {
        if (stamp && stamp == stamp_) return;
        if (Holds(entries)) {
            stamp_ = stamp;
            return;
        }
    }
    std::size_t bytes = 0;
    for (const auto& entry : entries)
        bytes += entry.size();
    // States (at most one per byte, plus the root) and entries are numbered in 31 bits,
    // which no list a person keeps comes near.
    if (bytes > INT32_MAX || entries.size() > INT32_MAX)
        throw std::length_error("list too large to search");
    pool_.clear();
    pool_.reserve(bytes);
    ends_.clear();
    ends_.reserve(entries.size());
    for (const auto& entry : entries) {
        pool_ += entry;
        ends_.push_back(static_cast<std::uint32_t>(pool_.size()));
    }
    ignoreCase_ = ignoreCase;
    stamp_ = stamp;
    Build();
}

void FirstEntryMatcher::Build() {
    built_ = false;
    for (int b = 0; b < 256; ++b)
        fold_[b] =
            static_cast<unsigned char>(ignoreCase_ && b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b);
    BuildTrie();
    if (!builtBefore_) sorted_ = SortedEntries{};
    builtBefore_ = true;
    BuildLinks();
    seen_.assign(nodes_.size(), 0);
    generation_ = 0;
    built_ = true;
}

// The trie holds each entry up to one byte past its longest common prefix with any other
// entry: beyond that byte no other entry shares the path, so the state there (a tail leaf)
// stands for that one entry. Entries that are a prefix of another or equal to another end
// inside the trie as whole entries. In sorted order the longest common prefix with any
// other entry is the longer of those with the two neighbours, and each entry's path is
// its predecessor's as far as they agree, so the trie grows without child lookups. Sorted
// order is also breadth-first order within each depth, so with the number of states per
// depth counted first, every state goes straight to its breadth-first place.
void FirstEntryMatcher::BuildTrie() {
    SortEntries(pool_, ends_, fold_, ignoreCase_, sorted_);
    const auto& keys = sorted_.keys;
    const auto& common = sorted_.common;
    const auto& offsets = sorted_.offsets;
    auto keyLength = [&](std::size_t k) {
        return std::min<std::size_t>(keys[k].length, std::max(common[k], common[k + 1]) + 1);
    };
    // Key k adds the states at depths (common[k], keyLength(k)]; next[d] is where the
    // next state at depth d goes, after the counts below have been summed.
    std::vector<std::uint32_t> next(1, 0);
    for (std::size_t k = 0; k < keys.size(); ++k) {
        const std::size_t length = keyLength(k);
        if (next.size() < length + 2) next.resize(length + 2, 0);
        if (common[k] < length) {
            ++next[common[k] + 1];
            --next[length + 1];
        }
    }
    std::uint32_t states = 1, perDepth = 0;
    for (std::size_t d = 1; d < next.size(); ++d) {
        perDepth += next[d];
        next[d] = states;
        states += perDepth;
    }
    nodes_.assign(states, Node{});
    byteOf_.assign(states + kChildBlock - 1, 0); // Child reads whole blocks

    std::vector<std::uint32_t> path(1, 0); // path[d]: the previous entry's state at depth d
    for (std::size_t k = 0; k < keys.size(); ++k) {
        const std::size_t length = keyLength(k);
        // The previous entry's path reaches at least as deep as the prefix they share.
        path.resize(std::min<std::size_t>(common[k], length) + 1);
        for (std::size_t d = path.size() - 1; d < length; ++d) {
            const std::uint32_t id = next[d + 1]++;
            Node& parent = nodes_[path[d]];
            if (parent.childCount++ == 0) parent.firstChild = id;
            // The key's own bytes spare a read at a random place in the pool.
            const std::size_t at = d - offsets[k];
            byteOf_[id] = d >= offsets[k] && at < 8
                              ? static_cast<unsigned char>(keys[k].high >> (56 - 8 * at))
                              : fold_[BytesOf(Entry(keys[k].index))[d]];
            path.push_back(id);
        }
        Node& end = nodes_[path[length]];
        if (end.entry < 0) { // duplicates: the earlier one in the list wins
            end.entry = static_cast<std::int32_t>(keys[k].index);
            if (length == keys[k].length)
                end.kind = Node::kEnds;
            else {
                end.kind = Node::kTail;
                end.firstChild = static_cast<std::uint32_t>(length);
            }
        }
    }
}

// Fail links and the two report chains, breadth first: in state order, as the states
// are numbered breadth first.
void FirstEntryMatcher::BuildLinks() {
    std::fill(std::begin(rootNext_), std::end(rootNext_), 0);
    const Node& root = nodes_[0];
    for (std::uint32_t c = root.firstChild; c < root.firstChild + root.childCount; ++c)
        rootNext_[byteOf_[c]] = static_cast<std::int32_t>(c);
    for (std::size_t u = 0; u < nodes_.size(); ++u) {
        const std::uint32_t first = nodes_[u].firstChild, last = first + nodes_[u].childCount;
        for (std::uint32_t c = first; c < last; ++c) {
            std::int32_t fail = 0;
            if (u != 0) {
                const unsigned char byte = byteOf_[c];
                for (std::int32_t f = nodes_[u].fail;; f = nodes_[f].fail) {
                    const std::int32_t t = f == 0 ? rootNext_[byte] : Child(f, byte);
                    if (t > 0 || f == 0) {
                        fail = std::max(t, 0);
                        break;
                    }
                }
            }
            Node& node = nodes_[c];
            node.fail = fail;
            node.outLink = Report(fail);
            node.checkLink = Check(fail);
        }
    }
}

// The children's bytes are compared sixteen at a time: a search among the many children
// of a shallow state then costs no mispredicted branches.
std::int32_t FirstEntryMatcher::Child(std::int32_t node, unsigned char byte) const {
    using Block = unsigned char __attribute__((vector_size(kChildBlock)));
    const Node& n = nodes_[node];
    const unsigned char* bytes = byteOf_.data() + n.firstChild;
    for (std::size_t k = 0; k < n.childCount; k += kChildBlock) {
        Block block;
        std::memcpy(&block, bytes + k, kChildBlock);
        const Block equal = block == byte; // 0xff where equal
        std::uint64_t half[2];
        std::memcpy(half, &equal, kChildBlock);
        auto lane = [](std::uint64_t word) -> std::size_t { // the first equal byte in memory
            return (std::endian::native == std::endian::little ? std::countr_zero(word)
                                                               : std::countl_zero(word)) /
                   8;
        };
        const std::size_t at = half[0] != 0   ? lane(half[0])
                               : half[1] != 0 ? 8 + lane(half[1])
                                              : kChildBlock;
        if (at < kChildBlock) // bytes past the last child belong to other states
            return k + at < n.childCount ? static_cast<std::int32_t>(n.firstChild + k + at) : -1;
    }
    return -1;
}

std::int32_t FirstEntryMatcher::Next(std::int32_t state, unsigned char byte) const {
    for (;;) {
        const std::int32_t t = Child(state, byte);
        if (t >= 0) return t;
        state = nodes_[state].fail;
        if (state == 0) return rootNext_[byte];
    }
}

bool FirstEntryMatcher::TailFollows(const Node& leaf, const unsigned char* text, std::size_t size,
                                    std::size_t at) const {
    const std::string_view entry = Entry(static_cast<std::size_t>(leaf.entry));
    const Bytes rest = BytesOf(entry) + leaf.firstChild;
    const std::size_t length = entry.size() - leaf.firstChild;
    if (size - at < length) return false;
    for (std::size_t k = 0; k < length; ++k)
        if (fold_[rest[k]] != fold_[text[at + k]]) return false;
    return true;
}

long FirstEntryMatcher::FirstMatch(const std::string& text, std::size_t minPos,
                                   std::size_t* start) {
    if (!built_ || text.empty() || nodes_.size() == 1) return kNoMatch;
    if (++generation_ == 0) {
        std::fill(seen_.begin(), seen_.end(), 0);
        generation_ = 1;
    }
    const Bytes bytes = BytesOf(text);
    const std::size_t size = text.size();
    long best = kNoMatch;
    std::size_t bestStart = 0;
    std::int32_t state = 0;
    for (std::size_t p = 0; p < size; ++p) {
        const unsigned char b = fold_[bytes[p]];
        if (state != 0)
            state = Next(state, b);
        else if ((state = rootNext_[b]) == 0)
            continue; // most bytes of a header start no entry at all
        // Whole entries are reported once, at the end of their first occurrence; a state
        // met before had its whole chain reported then.
        for (std::int32_t out = Report(state); out >= 0 && seen_[out] != generation_;
             out = nodes_[out].outLink) {
            seen_[out] = generation_;
            const Node& hit = nodes_[out];
            const std::size_t at = p + 2 - Entry(hit.entry).size(); // 1-based
            if (at >= minPos && (best == kNoMatch || hit.entry < best)) {
                best = hit.entry;
                bestStart = at;
            }
        }
        // A tail leaf's entry occurs only if its tail follows here; until it has, every
        // occurrence of the leaf is a candidate. Entries after the best so far need no
        // look: they cannot win.
        for (std::int32_t leaf = Check(state); leaf >= 0; leaf = nodes_[leaf].checkLink) {
            const Node& hit = nodes_[leaf];
            if (seen_[leaf] == generation_ || (best != kNoMatch && hit.entry >= best) ||
                !TailFollows(hit, bytes, size, p + 1))
                continue;
            seen_[leaf] = generation_;
            if (p + 2 - hit.firstChild >= minPos) {
                best = hit.entry;
                bestStart = p + 2 - hit.firstChild;
            }
        }
        if (best == 0) break;
    }
    if (start && best != kNoMatch) *start = bestStart;
    return best;
}

} // namespace screening
