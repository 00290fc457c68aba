#include "FirstEntryMatcher.h"

#include <algorithm>
#include <deque>

namespace screening {

namespace {
constexpr std::size_t kEntriesPerIdle = 1024;
constexpr std::size_t kBytesPerIdle = 4096;

// The trie while it grows: children kept sorted by byte.
struct GrowingNode {
    std::vector<std::pair<unsigned char, std::int32_t>> children;
    std::int32_t entry = -1;
    std::uint32_t depth = 0;
};
} // namespace

void FirstEntryMatcher::Prepare(const std::vector<std::string>& entries, bool ignoreCase) {
    if (built_ && ignoreCase == ignoreCase_ && entries == entries_) return;
    entries_ = entries;
    ignoreCase_ = ignoreCase;
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

    std::vector<GrowingNode> trie(1);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const std::string& entry = entries_[i];
        if (entry.empty()) continue;
        std::int32_t node = 0;
        for (char c : entry) {
            unsigned char b = fold_[static_cast<unsigned char>(c)];
            auto& kids = trie[node].children;
            auto it =
                std::lower_bound(kids.begin(), kids.end(), b,
                                 [](const auto& edge, unsigned char x) { return edge.first < x; });
            if (it != kids.end() && it->first == b) {
                node = it->second;
                continue;
            }
            auto next = static_cast<std::int32_t>(trie.size());
            kids.insert(it, {b, next});
            std::uint32_t depth = trie[node].depth + 1;
            trie.emplace_back();
            trie.back().depth = depth;
            node = next;
        }
        if (trie[node].entry < 0) // duplicates: the earlier one in the list wins
            trie[node].entry = static_cast<std::int32_t>(i);
        if ((i + 1) % kEntriesPerIdle == 0) Idle();
    }

    nodes_.assign(trie.size(), Node{});
    edges_.clear();
    for (std::size_t n = 0; n < trie.size(); ++n) {
        nodes_[n].firstEdge = static_cast<std::uint32_t>(edges_.size());
        nodes_[n].edgeCount = static_cast<std::uint32_t>(trie[n].children.size());
        nodes_[n].entry = trie[n].entry;
        nodes_[n].depth = trie[n].depth;
        for (const auto& [byte, target] : trie[n].children)
            edges_.push_back({byte, target});
    }
    trie.clear();
    trie.shrink_to_fit();

    std::fill(std::begin(rootNext_), std::end(rootNext_), 0);
    std::deque<std::int32_t> queue;
    for (std::uint32_t e = 0; e < nodes_[0].edgeCount; ++e) {
        const Edge& edge = edges_[nodes_[0].firstEdge + e];
        rootNext_[edge.byte] = edge.target;
        queue.push_back(edge.target); // fail 0, outLink -1
    }
    std::size_t visited = 0;
    while (!queue.empty()) {
        std::int32_t u = queue.front();
        queue.pop_front();
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
            child.outLink = nodes_[fail].entry >= 0 ? fail : nodes_[fail].outLink;
            queue.push_back(edge.target);
        }
        if (++visited % (kEntriesPerIdle * 16) == 0) Idle();
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

long FirstEntryMatcher::FirstMatch(const std::string& text, std::size_t minPos) {
    if (!built_ || text.empty() || nodes_.size() == 1) return kNoMatch;
    if (++generation_ == 0) {
        std::fill(seen_.begin(), seen_.end(), 0);
        generation_ = 1;
    }
    long best = kNoMatch;
    std::int32_t state = 0;
    for (std::size_t p = 0; p < text.size(); ++p) {
        unsigned char b = fold_[static_cast<unsigned char>(text[p])];
        for (;;) {
            if (state == 0) {
                state = rootNext_[b];
                break;
            }
            std::int32_t t = Child(state, b);
            if (t >= 0) {
                state = t;
                break;
            }
            state = nodes_[state].fail;
        }
        // Each node is reported once, at the end of its first occurrence; a node met
        // before had its whole output chain reported then.
        std::int32_t out = nodes_[state].entry >= 0 ? state : nodes_[state].outLink;
        while (out >= 0 && seen_[out] != generation_) {
            seen_[out] = generation_;
            const Node& hit = nodes_[out];
            std::size_t start = p + 2 - hit.depth; // 1-based
            if (start >= minPos && (best == kNoMatch || hit.entry < best)) best = hit.entry;
            out = hit.outLink;
        }
        if (best == 0) return best;
        if ((p + 1) % kBytesPerIdle == 0) Idle();
    }
    return best;
}

} // namespace screening
