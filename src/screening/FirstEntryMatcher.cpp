#include "FirstEntryMatcher.h"

#include <algorithm>

namespace screening {

namespace {
constexpr std::size_t kEntriesPerIdle = 1024;
constexpr std::size_t kBytesPerIdle = 4096;

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
    pool_.clear();
    pool_.reserve(bytes);
    ends_.clear();
    ends_.reserve(entries.size());
    for (const auto& entry : entries) {
        pool_ += entry;
        ends_.push_back(pool_.size());
    }
    ignoreCase_ = ignoreCase;
    stamp_ = stamp;
    Build();
}

void FirstEntryMatcher::Idle() {
    if (OnIdle) OnIdle();
}

void FirstEntryMatcher::Build() {
    built_ = false;
    for (int b = 0; b < 256; ++b)
        fold_[b] =
            static_cast<unsigned char>(ignoreCase_ && b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b);
    std::vector<std::int32_t> parent;
    std::vector<unsigned char> byteOf;
    BuildTrie(parent, byteOf);
    BuildEdges(parent, byteOf);
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
// its predecessor's as far as they agree, so the trie grows without child lookups.
std::vector<std::uint32_t> FirstEntryMatcher::SortedEntries() const {
    // Sorted eight folded bytes at a time, as one number: entries that agree in their first
    // eight bytes and go on past them are sorted again on the next eight, and so on.
    struct Key {
        std::uint64_t chunk; // big-endian, zero-padded
        std::uint64_t rest;  // bytes left from the chunk on (9 for more than 8), index
        bool operator<(const Key& other) const {
            return chunk != other.chunk ? chunk < other.chunk : rest < other.rest;
        }
        std::uint32_t Index() const { return static_cast<std::uint32_t>(rest); }
        bool GoesOn() const { return rest >> 32 == 9; }
    };
    auto keyAt = [this](std::uint32_t index, std::size_t offset) {
        const std::string_view entry = Entry(index).substr(offset);
        std::uint64_t chunk = 0;
        for (std::size_t k = 0; k < entry.size() && k < 8; ++k)
            chunk |= std::uint64_t{fold_[BytesOf(entry)[k]]} << (56 - 8 * k);
        // An entry that ends inside the chunk is a prefix of any longer one with the same
        // chunk (the padding stands for the longer one's zero bytes), so it comes first;
        // equal entries keep list order.
        return Key{chunk, std::uint64_t{std::min<std::size_t>(entry.size(), 9)} << 32 | index};
    };
    std::vector<Key> keys;
    keys.reserve(ends_.size());
    for (std::size_t i = 0; i < ends_.size(); ++i)
        if (ends_[i] != (i == 0 ? 0 : ends_[i - 1]))
            keys.push_back(keyAt(static_cast<std::uint32_t>(i), 0));
    struct Run {
        std::size_t begin, end, offset;
    };
    std::vector<Run> runs{{0, keys.size(), 0}};
    while (!runs.empty()) {
        const Run run = runs.back();
        runs.pop_back();
        std::sort(keys.begin() + run.begin, keys.begin() + run.end);
        for (std::size_t i = run.begin, j; i < run.end; i = j) {
            for (j = i + 1; j < run.end && keys[j].chunk == keys[i].chunk && keys[j].GoesOn() &&
                            keys[i].GoesOn();)
                ++j;
            if (j - i < 2) continue;
            for (std::size_t k = i; k < j; ++k)
                keys[k] = keyAt(keys[k].Index(), run.offset + 8);
            runs.push_back({i, j, run.offset + 8});
        }
    }
    std::vector<std::uint32_t> order(keys.size());
    for (std::size_t k = 0; k < keys.size(); ++k)
        order[k] = keys[k].Index();
    return order;
}

// The trie holds each entry up to one byte past its longest common prefix with any other
// entry: beyond that byte no other entry shares the path, so the state there (a tail leaf)
// stands for that one entry. Entries that are a prefix of another or equal to another end
// inside the trie as whole entries. In sorted order the longest common prefix with any
// other entry is the longer of those with the two neighbours, and each entry's path is
// its predecessor's as far as they agree, so the trie grows without child lookups.
void FirstEntryMatcher::BuildTrie(std::vector<std::int32_t>& parent,
                                  std::vector<unsigned char>& byteOf) {
    const std::vector<std::uint32_t> order = SortedEntries();
    // common[k]: the common prefix of sorted entries k - 1 and k (0 at both ends).
    std::vector<std::uint32_t> common(order.size() + 1, 0);
    for (std::size_t k = 1; k < order.size(); ++k) {
        const Bytes a = BytesOf(Entry(order[k - 1])), b = BytesOf(Entry(order[k]));
        const std::size_t n = std::min(Entry(order[k - 1]).size(), Entry(order[k]).size());
        std::size_t same = 0;
        while (same < n && fold_[a[same]] == fold_[b[same]])
            ++same;
        common[k] = static_cast<std::uint32_t>(same);
    }
    auto keyLength = [&](std::size_t k) {
        return std::min<std::size_t>(Entry(order[k]).size(),
                                     std::max(common[k], common[k + 1]) + 1);
    };
    std::size_t nodes = 1;
    for (std::size_t k = 0; k < order.size(); ++k)
        nodes += keyLength(k) - std::min<std::size_t>(common[k], keyLength(k));

    nodes_.assign(1, Node{});
    nodes_.reserve(nodes);
    parent.reserve(nodes);
    byteOf.reserve(nodes);
    parent.assign(1, -1);
    byteOf.assign(1, 0);
    std::vector<std::int32_t> path(1, 0); // path[d]: the previous entry's node at depth d
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::string_view entry = Entry(order[k]);
        const std::size_t length = keyLength(k);
        // The previous entry's path reaches at least as deep as the prefix they share.
        path.resize(std::min<std::size_t>(common[k], length) + 1);
        for (std::size_t d = path.size() - 1; d < length; ++d) {
            const auto id = static_cast<std::int32_t>(nodes_.size());
            nodes_.emplace_back();
            nodes_.back().depth = static_cast<std::uint32_t>(d + 1);
            parent.push_back(path[d]);
            byteOf.push_back(fold_[BytesOf(entry)[d]]);
            path.push_back(id);
        }
        Node& end = nodes_[path[length]];
        if (end.entry < 0) // duplicates: the earlier one in the list wins
            end.entry = static_cast<std::int32_t>(order[k]);
        if ((k + 1) % kEntriesPerIdle == 0) Idle();
    }
}

// Children as one array of edges, grouped by parent, in byte order within a group (the
// trie grew in sorted order).
void FirstEntryMatcher::BuildEdges(const std::vector<std::int32_t>& parent,
                                   const std::vector<unsigned char>& byteOf) {
    for (std::size_t n = 1; n < nodes_.size(); ++n)
        ++nodes_[parent[n]].edgeCount;
    std::uint32_t next = 0;
    for (Node& node : nodes_) {
        node.firstEdge = next;
        next += node.edgeCount;
        node.edgeCount = 0; // counts again while filling
    }
    edgeBytes_.resize(next);
    edgeTargets_.resize(next);
    for (std::size_t n = 1; n < nodes_.size(); ++n) {
        Node& p = nodes_[parent[n]];
        edgeBytes_[p.firstEdge + p.edgeCount] = byteOf[n];
        edgeTargets_[p.firstEdge + p.edgeCount] = static_cast<std::int32_t>(n);
        ++p.edgeCount;
    }
}

// Fail links and the two report chains, breadth first.
void FirstEntryMatcher::BuildLinks() {
    auto link = [this](std::int32_t id) {
        Node& node = nodes_[id];
        node.outLink = Report(node.fail);
        node.checkLink = Check(node.fail);
        if (node.entry >= 0)
            node.kind = Entry(node.entry).size() == node.depth ? Node::kEnds : Node::kTail;
    };
    std::fill(std::begin(rootNext_), std::end(rootNext_), 0);
    std::vector<std::int32_t> queue;
    queue.reserve(nodes_.size());
    for (std::uint32_t e = 0; e < nodes_[0].edgeCount; ++e) {
        const std::int32_t child = edgeTargets_[e];
        rootNext_[edgeBytes_[e]] = child;
        link(child); // fail 0
        queue.push_back(child);
    }
    for (std::size_t head = 0; head < queue.size(); ++head) {
        const std::int32_t u = queue[head];
        const std::uint32_t first = nodes_[u].firstEdge, last = first + nodes_[u].edgeCount;
        for (std::uint32_t e = first; e < last; ++e) {
            const unsigned char byte = edgeBytes_[e];
            std::int32_t f = nodes_[u].fail;
            std::int32_t fail = 0;
            for (;;) {
                const std::int32_t t = f == 0 ? rootNext_[byte] : Child(f, byte);
                if (t > 0) {
                    fail = t;
                    break;
                }
                if (f == 0) break;
                f = nodes_[f].fail;
            }
            nodes_[edgeTargets_[e]].fail = fail;
            link(edgeTargets_[e]);
            queue.push_back(edgeTargets_[e]);
        }
        if ((head + 1) % (kEntriesPerIdle * 16) == 0) Idle();
    }
}

std::int32_t FirstEntryMatcher::Child(std::int32_t node, unsigned char byte) const {
    const Node& n = nodes_[node];
    const unsigned char* first = edgeBytes_.data() + n.firstEdge;
    const unsigned char* last = first + n.edgeCount;
    const unsigned char* it =
        n.edgeCount <= 16 ? std::find(first, last, byte) : std::lower_bound(first, last, byte);
    return it != last && *it == byte ? edgeTargets_[it - edgeBytes_.data()] : -1;
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
    const Bytes rest = BytesOf(entry) + leaf.depth;
    const std::size_t length = entry.size() - leaf.depth;
    if (size - at < length) return false;
    for (std::size_t k = 0; k < length; ++k)
        if (fold_[rest[k]] != fold_[text[at + k]]) return false;
    return true;
}

long FirstEntryMatcher::FirstMatch(const std::string& text, std::size_t minPos) {
    if (!built_ || text.empty() || nodes_.size() == 1) return kNoMatch;
    if (++generation_ == 0) {
        std::fill(seen_.begin(), seen_.end(), 0);
        generation_ = 1;
    }
    const Bytes bytes = BytesOf(text);
    const std::size_t size = text.size();
    long best = kNoMatch;
    std::int32_t state = 0;
    std::size_t p = 0;
    while (p < size) {
        const std::size_t stop = std::min(size, (p / kBytesPerIdle + 1) * kBytesPerIdle);
        for (; p < stop; ++p) {
            const unsigned char b = fold_[bytes[p]];
            if (state != 0)
                state = Next(state, b);
            else if ((state = rootNext_[b]) == 0)
                continue; // most bytes of a header start no entry at all
            // Whole entries are reported once, at the end of their first occurrence; a
            // state met before had its whole chain reported then.
            for (std::int32_t out = Report(state); out >= 0 && seen_[out] != generation_;
                 out = nodes_[out].outLink) {
                seen_[out] = generation_;
                const Node& hit = nodes_[out];
                const std::size_t start = p + 2 - hit.depth; // 1-based
                if (start >= minPos && (best == kNoMatch || hit.entry < best)) best = hit.entry;
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
                if (p + 2 - hit.depth >= minPos) best = hit.entry;
            }
            if (best == 0) return best;
        }
        if (p % kBytesPerIdle == 0) Idle();
    }
    return best;
}

} // namespace screening
