#include "FirstEntryMatcher.h"

#include <algorithm>
#include <string_view>

namespace screening {

namespace {
constexpr std::size_t kEntriesPerIdle = 1024;
constexpr std::size_t kBytesPerIdle = 4096;
} // namespace

void FirstEntryMatcher::Prepare(const std::vector<std::string>& entries, bool ignoreCase,
                                std::optional<std::uint64_t> stamp) {
    if (built_ && ignoreCase == ignoreCase_ && entries.size() == entries_.size()) {
        if (stamp && stamp == stamp_) return;
        if (entries == entries_) {
            stamp_ = stamp;
            return;
        }
    }
    entries_ = entries;
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

    // The trie is built from the entries in sorted order: each entry shares its path with
    // the one before as far as their common prefix, and every node's children come out
    // in byte order, so no node needs a child list of its own while the trie grows.
    // The folded entries lie end to end in one buffer; the sort compares their first eight
    // bytes as one number and looks further only on a tie.
    std::size_t bytes = 1;
    for (const auto& entry : entries_)
        bytes += entry.size();
    std::string pool;
    pool.reserve(bytes);
    struct Key {
        std::uint64_t head; // the first eight bytes, big-endian, zero-padded
        std::uint32_t index;
        std::string_view text;
    };
    std::vector<Key> order;
    order.reserve(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].empty()) continue;
        const std::size_t at = pool.size();
        std::uint64_t head = 0;
        for (std::size_t k = 0; k < entries_[i].size(); ++k) {
            const unsigned char c = fold_[static_cast<unsigned char>(entries_[i][k])];
            pool.push_back(static_cast<char>(c));
            if (k < 8) head |= std::uint64_t{c} << (56 - 8 * k);
        }
        order.push_back({head, static_cast<std::uint32_t>(i),
                         std::string_view(pool.data() + at, entries_[i].size())});
    }
    std::sort(order.begin(), order.end(), [](const Key& a, const Key& b) {
        if (a.head != b.head) return a.head < b.head;
        int c = a.text.compare(b.text);
        return c != 0 ? c < 0 : a.index < b.index; // equal entries: the earlier one first
    });

    nodes_.assign(1, Node{});
    nodes_.reserve(bytes); // at most one node per byte: the trie never moves while it grows
    std::vector<std::int32_t> parent(1, -1);
    std::vector<unsigned char> byteOf(1, 0);
    parent.reserve(bytes);
    byteOf.reserve(bytes);
    std::vector<std::int32_t> path(1, 0); // path[d]: the previous entry's node at depth d
    std::string_view previous;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::string_view entry = order[k].text;
        std::size_t shared = 0;
        while (shared < entry.size() && shared < previous.size() &&
               entry[shared] == previous[shared])
            ++shared;
        path.resize(shared + 1);
        for (std::size_t d = shared; d < entry.size(); ++d) {
            auto id = static_cast<std::int32_t>(nodes_.size());
            nodes_.emplace_back();
            nodes_.back().depth = static_cast<std::uint32_t>(d + 1);
            parent.push_back(path[d]);
            byteOf.push_back(static_cast<unsigned char>(entry[d]));
            path.push_back(id);
        }
        Node& end = nodes_[path[entry.size()]];
        if (end.entry < 0) // duplicates: the earlier one in the list wins
            end.entry = static_cast<std::int32_t>(order[k].index);
        previous = entry;
        if ((k + 1) % kEntriesPerIdle == 0) Idle();
    }

    // Children as one array of edges, grouped by parent, in byte order within a group.
    for (std::size_t n = 1; n < nodes_.size(); ++n)
        ++nodes_[parent[n]].edgeCount;
    std::uint32_t next = 0;
    for (Node& node : nodes_) {
        node.firstEdge = next;
        next += node.edgeCount;
    }
    edges_.assign(next, Edge{0, 0});
    std::vector<std::uint32_t> filled(nodes_.size(), 0);
    for (std::size_t n = 1; n < nodes_.size(); ++n) {
        Node& p = nodes_[parent[n]];
        edges_[p.firstEdge + filled[parent[n]]++] = {byteOf[n], static_cast<std::int32_t>(n)};
    }

    // Fail and output links, breadth first.
    std::fill(std::begin(rootNext_), std::end(rootNext_), 0);
    std::vector<std::int32_t> queue;
    queue.reserve(nodes_.size());
    for (std::uint32_t e = 0; e < nodes_[0].edgeCount; ++e) {
        const Edge& edge = edges_[nodes_[0].firstEdge + e];
        rootNext_[edge.byte] = edge.target;
        Node& child = nodes_[edge.target]; // fail 0, outLink -1
        if (child.entry >= 0) child.report = edge.target;
        queue.push_back(edge.target);
    }
    for (std::size_t head = 0; head < queue.size(); ++head) {
        const std::int32_t u = queue[head];
        for (std::uint32_t e = 0; e < nodes_[u].edgeCount; ++e) {
            const Edge edge = edges_[nodes_[u].firstEdge + e];
            std::int32_t f = nodes_[u].fail;
            std::int32_t fail = 0;
            for (;;) {
                std::int32_t t = f == 0 ? rootNext_[edge.byte] : Child(f, edge.byte);
                if (t > 0) {
                    fail = t;
                    break;
                }
                if (f == 0) break;
                f = nodes_[f].fail;
            }
            Node& child = nodes_[edge.target];
            child.fail = fail;
            child.outLink = nodes_[fail].report;
            child.report = child.entry >= 0 ? edge.target : child.outLink;
            queue.push_back(edge.target);
        }
        if ((head + 1) % (kEntriesPerIdle * 16) == 0) Idle();
    }
    seen_.assign(nodes_.size(), 0);
    generation_ = 0;
    built_ = true;
}

std::int32_t FirstEntryMatcher::Child(std::int32_t node, unsigned char byte) const {
    const Node& n = nodes_[node];
    const Edge* first = edges_.data() + n.firstEdge;
    const Edge* last = first + n.edgeCount;
    if (n.edgeCount <= 8) {
        for (const Edge* e = first; e != last; ++e)
            if (e->byte == byte) return e->target;
        return -1;
    }
    const Edge* it = std::lower_bound(
        first, last, byte, [](const Edge& edge, unsigned char x) { return edge.byte < x; });
    return it != last && it->byte == byte ? it->target : -1;
}

std::int32_t FirstEntryMatcher::Next(std::int32_t state, unsigned char byte) const {
    for (;;) {
        std::int32_t t = Child(state, byte);
        if (t >= 0) return t;
        state = nodes_[state].fail;
        if (state == 0) return rootNext_[byte];
    }
}

long FirstEntryMatcher::FirstMatch(const std::string& text, std::size_t minPos) {
    if (!built_ || text.empty() || nodes_.size() == 1) return kNoMatch;
    if (++generation_ == 0) {
        std::fill(seen_.begin(), seen_.end(), 0);
        generation_ = 1;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
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
            // Each node is reported once, at the end of its first occurrence; a node met
            // before had its whole output chain reported then.
            std::int32_t out = nodes_[state].report;
            while (out >= 0 && seen_[out] != generation_) {
                seen_[out] = generation_;
                const Node& hit = nodes_[out];
                std::size_t start = p + 2 - hit.depth; // 1-based
                if (start >= minPos && (best == kNoMatch || hit.entry < best)) best = hit.entry;
                out = hit.outLink;
            }
            if (best == 0) return best;
        }
        if (p % kBytesPerIdle == 0) Idle();
    }
    return best;
}

} // namespace screening
