#include "FirstEntryMatcher.h"

#include <algorithm>
#include <bit>
#include <cstring>

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

// A radix sort on folded bytes, one byte position at a time, over keys that carry eight of
// their entry's bytes: the pool is read again only for groups that share all eight, so
// neighbours rarely need it. Where a group splits, the position is the common prefix of
// the neighbours at the split, so the common prefixes come out of the sort for free.
void FirstEntryMatcher::SortEntries(std::vector<SortKey>& keys, std::vector<std::uint32_t>& common,
                                    std::vector<std::uint32_t>& offsets) const {
    auto load = [this](SortKey& key, std::size_t offset) {
        const Bytes bytes = BytesOf(Entry(key.index)) + offset;
        const std::size_t size = key.length - offset;
        if (size < 8) {
            key.high = 0;
            for (std::size_t k = 0; k < size; ++k)
                key.high |= std::uint64_t{fold_[bytes[k]]} << (56 - 8 * k);
            return;
        }
        std::uint64_t chunk;
        std::memcpy(&chunk, bytes, 8);
        if constexpr (std::endian::native == std::endian::little) chunk = __builtin_bswap64(chunk);
        if (ignoreCase_) { // 0x20 added to the bytes 'A' to 'Z', eight at once
            constexpr std::uint64_t kOnes = 0x0101010101010101, kHigh = kOnes * 0x80;
            const std::uint64_t low7 = chunk & ~kHigh;
            const std::uint64_t fromA = low7 + kOnes * (0x80 - 'A');
            const std::uint64_t pastZ = low7 + kOnes * (0x80 - 'Z' - 1);
            chunk |= (fromA & ~pastZ & ~chunk & kHigh) >> 2;
        }
        key.high = chunk;
    };
    keys.clear();
    keys.reserve(ends_.size());
    for (std::size_t i = 0; i < ends_.size(); ++i) {
        const std::size_t length = Entry(i).size();
        if (length == 0) continue;
        keys.push_back({0, static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(length)});
        load(keys.back(), 0);
    }
    common.assign(keys.size() + 1, 0);
    offsets.resize(keys.size());

    // Both keys carry their bytes from `offset` on and agree before it. Padding zeros stand
    // for a longer entry's zero bytes, so the length decides only between equal chunks.
    auto commonPrefix = [this](const SortKey& a, const SortKey& b, std::size_t offset) {
        const std::size_t shorter = std::min(a.length, b.length);
        std::size_t same;
        if (a.high != b.high)
            same = offset + std::countl_zero(a.high ^ b.high) / 8;
        else {
            same = offset + 8;
            const Bytes x = BytesOf(Entry(a.index)), y = BytesOf(Entry(b.index));
            while (same < shorter && fold_[x[same]] == fold_[y[same]])
                ++same;
        }
        return std::min(same, shorter);
    };
    // Lexicographic order; equal entries in list order.
    auto less = [&](const SortKey& a, const SortKey& b, std::size_t offset) {
        if (a.high != b.high) return a.high < b.high;
        if (a.length > offset + 8 && b.length > offset + 8) {
            const std::size_t same = commonPrefix(a, b, offset);
            if (same < a.length && same < b.length)
                return fold_[BytesOf(Entry(a.index))[same]] < fold_[BytesOf(Entry(b.index))[same]];
        }
        return a.length != b.length ? a.length < b.length : a.index < b.index;
    };

    struct Group {
        std::size_t begin, end, depth, offset; // keys agree before depth, carry from offset
    };
    std::vector<Group> groups{{0, keys.size(), 0, 0}};
    std::size_t count[257];
    while (!groups.empty()) {
        Group g = groups.back();
        groups.pop_back();
        if (g.depth == g.offset + 8) {
            for (std::size_t i = g.begin; i < g.end; ++i)
                load(keys[i], g.depth);
            g.offset = g.depth;
        }
        if (g.end - g.begin <= 16) { // small groups: insertion sort
            std::fill(offsets.begin() + g.begin, offsets.begin() + g.end, g.offset);
            for (std::size_t i = g.begin + 1; i < g.end; ++i) {
                const SortKey key = keys[i];
                std::size_t j = i;
                for (; j > g.begin && less(key, keys[j - 1], g.offset); --j)
                    keys[j] = keys[j - 1];
                keys[j] = key;
            }
            for (std::size_t i = g.begin + 1; i < g.end; ++i)
                common[i] =
                    static_cast<std::uint32_t>(commonPrefix(keys[i - 1], keys[i], g.offset));
            continue;
        }
        // Bucket 0 holds the entries that end here (all equal by now); byte b goes to b + 1.
        const auto shift = static_cast<unsigned>(56 - 8 * (g.depth - g.offset));
        auto bucket = [&](const SortKey& key) -> std::size_t {
            if (key.length == g.depth) return 0;
            return (key.high >> shift & 0xff) + 1;
        };
        std::fill(std::begin(count), std::end(count), 0);
        for (std::size_t i = g.begin; i < g.end; ++i)
            ++count[bucket(keys[i])];
        if (count[bucket(keys[g.begin])] == g.end - g.begin && keys[g.begin].length != g.depth) {
            groups.push_back({g.begin, g.end, g.depth + 1, g.offset}); // no split here
            continue;
        }
        std::size_t next = g.begin;
        for (std::size_t& c : count) {
            const std::size_t size = c;
            c = next;
            next += size;
        }
        // In place: each key is swapped straight into its bucket.
        std::size_t place[257];
        std::copy(std::begin(count), std::end(count), std::begin(place));
        for (std::size_t b = 0; b < 257; ++b) {
            const std::size_t last = b == 256 ? g.end : count[b + 1];
            while (place[b] < last) {
                SortKey key = keys[place[b]];
                for (std::size_t c = bucket(key); c != b; c = bucket(key))
                    std::swap(key, keys[place[c]++]);
                keys[place[b]++] = key;
            }
        }
        for (std::size_t b = 0; b < 257; ++b) {
            const std::size_t first = count[b], last = place[b];
            if (first == last) continue;
            if (b == 0 || last - first == 1)
                std::fill(offsets.begin() + first, offsets.begin() + last, g.offset);
            if (first != g.begin) common[first] = static_cast<std::uint32_t>(g.depth);
            if (b == 0) { // equal entries, back in list order
                std::sort(keys.begin() + first, keys.begin() + last,
                          [](const SortKey& x, const SortKey& y) { return x.index < y.index; });
                std::fill(common.begin() + first + 1, common.begin() + last, g.depth);
            } else if (last - first > 1)
                groups.push_back({first, last, g.depth + 1, g.offset});
        }
    }
}

// The trie holds each entry up to one byte past its longest common prefix with any other
// entry: beyond that byte no other entry shares the path, so the state there (a tail leaf)
// stands for that one entry. Entries that are a prefix of another or equal to another end
// inside the trie as whole entries. In sorted order the longest common prefix with any
// other entry is the longer of those with the two neighbours, and each entry's path is
// its predecessor's as far as they agree, so the trie grows without child lookups.
void FirstEntryMatcher::BuildTrie(std::vector<std::int32_t>& parent,
                                  std::vector<unsigned char>& byteOf) {
    std::vector<SortKey> keys;
    std::vector<std::uint32_t> common; // [k]: of sorted entries k - 1 and k (0 at both ends)
    std::vector<std::uint32_t> offsets;
    SortEntries(keys, common, offsets);
    auto keyLength = [&](std::size_t k) {
        return std::min<std::size_t>(keys[k].length, std::max(common[k], common[k + 1]) + 1);
    };
    std::size_t nodes = 1;
    for (std::size_t k = 0; k < keys.size(); ++k)
        nodes += keyLength(k) - std::min<std::size_t>(common[k], keyLength(k));

    nodes_.assign(1, Node{});
    nodes_.reserve(nodes);
    parent.reserve(nodes);
    byteOf.reserve(nodes);
    parent.assign(1, -1);
    byteOf.assign(1, 0);
    std::vector<std::int32_t> path(1, 0); // path[d]: the previous entry's node at depth d
    for (std::size_t k = 0; k < keys.size(); ++k) {
        const std::string_view entry = Entry(keys[k].index);
        const std::size_t length = keyLength(k);
        // The previous entry's path reaches at least as deep as the prefix they share.
        path.resize(std::min<std::size_t>(common[k], length) + 1);
        for (std::size_t d = path.size() - 1; d < length; ++d) {
            const auto id = static_cast<std::int32_t>(nodes_.size());
            nodes_.emplace_back();
            nodes_.back().depth = static_cast<std::uint32_t>(d + 1);
            parent.push_back(path[d]);
            // The key's own bytes spare a read at a random place in the pool.
            const std::size_t at = d - offsets[k];
            byteOf.push_back(d >= offsets[k] && at < 8 ? keys[k].high >> (56 - 8 * at) & 0xff
                                                       : fold_[BytesOf(entry)[d]]);
            path.push_back(id);
        }
        Node& end = nodes_[path[length]];
        if (end.entry < 0) // duplicates: the earlier one in the list wins
            end.entry = static_cast<std::int32_t>(keys[k].index);
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
