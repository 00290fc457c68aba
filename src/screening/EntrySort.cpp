#include "EntrySort.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

namespace screening {

namespace {

using Key = SortedEntries::Key;
using Bytes = const unsigned char*;

// Groups of at most this many keys are sorted by insertion; groups of at most kSpareKeys
// are split through a spare block, larger ones in place.
constexpr std::size_t kInsertionKeys = 16;
constexpr std::size_t kSpareKeys = 4096;
// From this many entries on, the first split takes two bytes at once.
constexpr std::size_t kWideSplitEntries = 32768;

// A radix sort on folded bytes, one byte position at a time, over keys that carry eight of
// their entry's bytes: the pool is read again only for groups that share all eight. Where
// a group splits, the position is the common prefix of the neighbours at the split, so the
// common prefixes come out of the sort for free.
class EntrySorter {
  public:
    EntrySorter(std::string_view pool, const std::vector<std::uint32_t>& ends,
                const unsigned char (&fold)[256], bool ignoreCase, SortedEntries& out)
        : pool_(pool), ends_(ends), fold_(fold), ignoreCase_(ignoreCase), out_(out) {}

    void Sort() {
        FirstSplit();
        while (!groups_.empty()) {
            Group g = groups_.back();
            groups_.pop_back();
            if (g.depth == g.offset + 8) Reload(g);
            if (g.end - g.begin <= kInsertionKeys)
                Insertion(g);
            else
                Split(g);
        }
    }

  private:
    struct Group {
        std::size_t begin, end, depth, offset; // keys agree before depth, carry from offset
    };

    std::size_t Start(std::size_t index) const { return index == 0 ? 0 : ends_[index - 1]; }
    Bytes EntryBytes(std::size_t index) const {
        return reinterpret_cast<Bytes>(pool_.data()) + Start(index);
    }
    template <typename Fn> void ForEachEntry(Fn&& fn) const { // the non-empty ones, in order
        for (std::size_t i = 0; i < ends_.size(); ++i)
            if (const std::size_t length = ends_[i] - Start(i); length != 0) fn(i, length);
    }

    // Eight folded bytes of an entry from `offset` on, big-endian, zeros past its end.
    std::uint64_t ChunkAt(std::size_t index, std::size_t length, std::size_t offset) const {
        const Bytes bytes = EntryBytes(index) + offset;
        const std::size_t size = length - offset;
        std::uint64_t chunk = 0;
        if (size < 8) {
            for (std::size_t k = 0; k < size; ++k)
                chunk |= std::uint64_t{fold_[bytes[k]]} << (56 - 8 * k);
            return chunk;
        }
        std::memcpy(&chunk, bytes, 8);
        if constexpr (std::endian::native == std::endian::little) chunk = __builtin_bswap64(chunk);
        if (ignoreCase_) { // 0x20 added to the bytes 'A' to 'Z', eight at once
            constexpr std::uint64_t kOnes = 0x0101010101010101, kHigh = kOnes * 0x80;
            const std::uint64_t low7 = chunk & ~kHigh;
            const std::uint64_t fromA = low7 + kOnes * (0x80 - 'A');
            const std::uint64_t pastZ = low7 + kOnes * (0x80 - 'Z' - 1);
            chunk |= (fromA & ~pastZ & ~chunk & kHigh) >> 2;
        }
        return chunk;
    }

    // Bytes every entry shares tell none apart, so the keys start after them: the prefix
    // all share, ended early by the shortest entry, found eight bytes at a time.
    std::size_t SharedPrefix() const {
        std::size_t shared = 0;
        for (bool more = true; more;) {
            std::uint64_t all = ~std::uint64_t{0}, any = 0;
            std::size_t shortest = SIZE_MAX;
            ForEachEntry([&](std::size_t i, std::size_t length) {
                const std::uint64_t chunk = ChunkAt(i, length, shared);
                all &= chunk;
                any |= chunk;
                shortest = std::min(shortest, length);
            });
            const std::uint64_t varying = all ^ any;
            const std::size_t end = std::min(
                varying != 0 ? shared + std::countl_zero(varying) / 8 : shared + 8, shortest);
            more = end == shared + 8;
            shared = end;
        }
        return shared;
    }

    // The first split, on one or (for long lists) two bytes after the shared prefix, is made
    // as the keys are written: each goes straight to its bucket, in list order. A digit has
    // one part per byte: 0 where the entry has ended, else the byte + 1.
    void FirstSplit() {
        std::size_t entries = 0;
        ForEachEntry([&](std::size_t, std::size_t) { ++entries; });
        out_.keys.resize(entries);
        out_.common.assign(entries + 1, 0);
        out_.offsets.clear();
        if (entries == 0) return;
        const std::size_t shared = SharedPrefix();
        out_.offsets.assign(entries, static_cast<std::uint32_t>(shared));

        const std::size_t width = entries >= kWideSplitEntries ? 2 : 1;
        auto digitOf = [&](std::uint64_t chunk, std::size_t length) {
            std::size_t digit = 0;
            for (std::size_t j = 0; j < width; ++j)
                digit =
                    digit * 257 + (length <= shared + j ? 0 : (chunk >> (56 - 8 * j) & 0xff) + 1);
            return digit;
        };
        auto partOf = [width](std::size_t digit, std::size_t j) {
            return width == 2 && j == 0 ? digit / 257 : digit % 257;
        };
        auto& slot = out_.slots; // per digit
        slot.assign(width == 2 ? 257 * 257 : 257, 0);
        ForEachEntry([&](std::size_t i, std::size_t length) {
            ++slot[digitOf(ChunkAt(i, length, shared), length)];
        });
        std::vector<std::pair<std::uint32_t, std::uint32_t>> buckets; // digit, first key
        std::uint32_t next = 0;
        for (std::size_t digit = 0; digit < slot.size(); ++digit) {
            if (slot[digit] == 0) continue;
            buckets.emplace_back(static_cast<std::uint32_t>(digit), next);
            next += std::exchange(slot[digit], next);
        }
        ForEachEntry([&](std::size_t i, std::size_t length) {
            const std::uint64_t chunk = ChunkAt(i, length, shared);
            out_.keys[slot[digitOf(chunk, length)]++] = {chunk, static_cast<std::uint32_t>(i),
                                                         static_cast<std::uint32_t>(length)};
        });

        for (std::size_t b = 0; b < buckets.size(); ++b) {
            const auto [digit, first] = buckets[b];
            const std::size_t last = b + 1 < buckets.size() ? buckets[b + 1].second : entries;
            // The neighbours at a bucket's start agree in the shared prefix and in the
            // leading parts both have and share.
            if (b > 0) {
                std::size_t same = 0;
                while (same < width && partOf(digit, same) != 0 &&
                       partOf(digit, same) == partOf(buckets[b - 1].first, same))
                    ++same;
                out_.common[first] = static_cast<std::uint32_t>(shared + same);
            }
            std::size_t ended = 0; // the parts the entries have
            while (ended < width && partOf(digit, ended) != 0)
                ++ended;
            if (ended < width) // equal entries, ended inside the split, in list order
                std::fill(out_.common.begin() + first + 1, out_.common.begin() + last,
                          shared + ended);
            else if (last - first > 1)
                groups_.push_back({first, last, shared + width, shared});
        }
    }

    // The group's keys carry their bytes from its depth on, read again from the pool.
    void Reload(Group& g) {
        // The entries lie at random places in the pool: ask for all before waiting for any.
        for (std::size_t i = g.begin; i < g.end; ++i)
            __builtin_prefetch(EntryBytes(out_.keys[i].index) + g.depth);
        for (std::size_t i = g.begin; i < g.end; ++i) {
            Key& key = out_.keys[i];
            key.high = ChunkAt(key.index, key.length, g.depth);
        }
        g.offset = g.depth;
    }

    // Both keys carry their bytes from `offset` on and agree before it. Padding zeros stand
    // for a longer entry's zero bytes, so the length decides only between equal chunks.
    std::size_t CommonPrefix(const Key& a, const Key& b, std::size_t offset) const {
        const std::size_t shorter = std::min(a.length, b.length);
        std::size_t same;
        if (a.high != b.high)
            same = offset + std::countl_zero(a.high ^ b.high) / 8;
        else {
            same = offset + 8;
            const Bytes x = EntryBytes(a.index), y = EntryBytes(b.index);
            while (same < shorter && fold_[x[same]] == fold_[y[same]])
                ++same;
        }
        return std::min(same, shorter);
    }
    // Lexicographic order; equal entries in list order.
    bool Less(const Key& a, const Key& b, std::size_t offset) const {
        if (a.high != b.high) return a.high < b.high;
        if (a.length > offset + 8 && b.length > offset + 8) {
            const std::size_t same = CommonPrefix(a, b, offset);
            if (same < a.length && same < b.length)
                return fold_[EntryBytes(a.index)[same]] < fold_[EntryBytes(b.index)[same]];
        }
        return a.length != b.length ? a.length < b.length : a.index < b.index;
    }

    void Insertion(const Group& g) {
        auto& keys = out_.keys;
        std::fill(out_.offsets.begin() + g.begin, out_.offsets.begin() + g.end, g.offset);
        for (std::size_t i = g.begin + 1; i < g.end; ++i) {
            const Key key = keys[i];
            std::size_t j = i;
            for (; j > g.begin && Less(key, keys[j - 1], g.offset); --j)
                keys[j] = keys[j - 1];
            keys[j] = key;
        }
        for (std::size_t i = g.begin + 1; i < g.end; ++i)
            out_.common[i] =
                static_cast<std::uint32_t>(CommonPrefix(keys[i - 1], keys[i], g.offset));
    }

    // Splits the group on the byte at its depth. Bucket 0 holds the entries that end there
    // (all equal by now); byte b goes to bucket b + 1.
    void Split(Group& g) {
        auto& keys = out_.keys;
        const auto shift = static_cast<unsigned>(56 - 8 * (g.depth - g.offset));
        auto bucket = [&](const Key& key) -> std::size_t {
            return key.length == g.depth ? 0 : (key.high >> shift & 0xff) + 1;
        };
        std::size_t count[257] = {};
        std::size_t lowest = 256, highest = 0; // the buckets in use
        for (std::size_t i = g.begin; i < g.end; ++i) {
            const std::size_t b = bucket(keys[i]);
            ++count[b];
            lowest = std::min(lowest, b);
            highest = std::max(highest, b);
        }
        if (lowest == highest && lowest != 0) return SkipShared(g);
        std::size_t next = g.begin;
        for (std::size_t b = lowest; b <= highest; ++b)
            next += std::exchange(count[b], next);
        std::size_t place[257];
        for (std::size_t b = lowest; b <= highest; ++b)
            place[b] = count[b];
        if (g.end - g.begin <= kSpareKeys) {
            // Through the spare block and back: no unpredictable branch per key. The block
            // grows only as large as a group needs.
            if (out_.spare.size() < g.end - g.begin) out_.spare.resize(g.end - g.begin);
            for (std::size_t i = g.begin; i < g.end; ++i)
                out_.spare[place[bucket(keys[i])]++ - g.begin] = keys[i];
            std::copy(out_.spare.begin(), out_.spare.begin() + (g.end - g.begin),
                      keys.begin() + g.begin);
        } else {
            // In place, each key swapped straight into its bucket: a spare block for groups
            // this large would be fresh memory, which costs more than the time it saves.
            for (std::size_t b = lowest; b <= highest; ++b) {
                const std::size_t last = b == highest ? g.end : count[b + 1];
                while (place[b] < last) {
                    Key key = keys[place[b]];
                    for (std::size_t c = bucket(key); c != b; c = bucket(key))
                        std::swap(key, keys[place[c]++]);
                    keys[place[b]++] = key;
                }
            }
        }
        for (std::size_t b = lowest; b <= highest; ++b) {
            const std::size_t first = count[b], last = place[b];
            if (first == last) continue;
            if (b == 0 || last - first == 1)
                std::fill(out_.offsets.begin() + first, out_.offsets.begin() + last, g.offset);
            if (first != g.begin) out_.common[first] = static_cast<std::uint32_t>(g.depth);
            if (b == 0) { // equal entries, in list order again if a swap upset it
                const auto byIndex = [](const Key& x, const Key& y) { return x.index < y.index; };
                if (!std::is_sorted(keys.begin() + first, keys.begin() + last, byIndex))
                    std::sort(keys.begin() + first, keys.begin() + last, byIndex);
                std::fill(out_.common.begin() + first + 1, out_.common.begin() + last, g.depth);
            } else if (last - first > 1)
                groups_.push_back({first, last, g.depth + 1, g.offset});
        }
    }

    // No split at the group's depth: on to the first byte that splits it, with the keys
    // carrying their bytes from there, which are then ones that tell them apart.
    void SkipShared(Group& g) {
        std::uint64_t all = ~std::uint64_t{0}, any = 0;
        std::size_t shortest = SIZE_MAX;
        for (std::size_t i = g.begin; i < g.end; ++i) {
            all &= out_.keys[i].high;
            any |= out_.keys[i].high;
            shortest = std::min<std::size_t>(shortest, out_.keys[i].length);
        }
        const std::uint64_t varying = (all ^ any) << (8 * (g.depth - g.offset));
        g.depth = std::min(varying != 0 ? g.depth + std::countl_zero(varying) / 8 : g.offset + 8,
                           shortest);
        Reload(g);
        groups_.push_back(g);
    }

    std::string_view pool_;
    const std::vector<std::uint32_t>& ends_;
    const unsigned char (&fold_)[256];
    bool ignoreCase_;
    SortedEntries& out_;
    std::vector<Group> groups_;
};

} // namespace

void SortEntries(std::string_view pool, const std::vector<std::uint32_t>& ends,
                 const unsigned char (&fold)[256], bool ignoreCase, SortedEntries& sorted) {
    EntrySorter(pool, ends, fold, ignoreCase, sorted).Sort();
}

} // namespace screening
