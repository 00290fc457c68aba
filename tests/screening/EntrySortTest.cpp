#include "screening/EntrySort.h"
#include "screening/TextMatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using screening::SortedEntries;

namespace {

struct ListShape {
    const char* name;
    int shortestList, longestList;
    std::string stem;       // entries start with a random prefix of it
    std::size_t keepOfStem; // at least this much of it
    std::string alphabet;   // of the random tails
};

// Every list a shape makes, sorted, must give the order of a plain sort on (folded entry,
// list index), the true common prefixes of neighbours, and keys that carry the entry's
// own folded bytes from their offset on. Each sort reuses what the last one left.
void ExpectSortedAsAPlainSort(const ListShape& shape, int lists, SortedEntries& sorted) {
    std::mt19937 rng(12082026);
    for (int round = 0; round < lists; ++round) {
        const bool ignoreCase = round % 2 == 0;
        std::vector<std::string> entries(
            std::uniform_int_distribution<int>(shape.shortestList, shape.longestList)(rng));
        std::string pool;
        std::vector<std::uint32_t> ends;
        for (auto& e : entries) {
            e = shape.stem.substr(0, std::uniform_int_distribution<std::size_t>(
                                         shape.keepOfStem, shape.stem.size())(rng));
            for (std::size_t n = rng() % 12; n > 0; --n)
                e += shape.alphabet[rng() % shape.alphabet.size()];
            pool += e;
            ends.push_back(static_cast<std::uint32_t>(pool.size()));
        }
        unsigned char fold[256];
        for (int b = 0; b < 256; ++b)
            fold[b] = static_cast<unsigned char>(ignoreCase && b >= 'A' && b <= 'Z' ? b + 32 : b);
        screening::SortEntries(pool, ends, fold, ignoreCase, sorted);

        auto folded = [&](std::size_t i) {
            return ignoreCase ? screening::LowerCase(entries[i]) : entries[i];
        };
        std::vector<std::size_t> expected;
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (!entries[i].empty()) expected.push_back(i);
        std::stable_sort(expected.begin(), expected.end(),
                         [&](std::size_t a, std::size_t b) { return folded(a) < folded(b); });

        const std::string where = std::string(shape.name) + " list " + std::to_string(round);
        ASSERT_EQ(sorted.keys.size(), expected.size()) << where;
        ASSERT_EQ(sorted.common.size(), expected.size() + 1) << where;
        EXPECT_EQ(sorted.common.front(), 0u) << where;
        EXPECT_EQ(sorted.common.back(), 0u) << where;
        for (std::size_t k = 0; k < expected.size(); ++k) {
            const auto& key = sorted.keys[k];
            ASSERT_EQ(key.index, expected[k]) << where << " key " << k;
            const std::string entry = folded(key.index);
            ASSERT_EQ(key.length, entry.size()) << where << " key " << k;
            std::uint64_t carried = 0;
            for (std::size_t b = 0; b < 8; ++b) {
                const std::size_t at = sorted.offsets[k] + b;
                carried = carried << 8 | (at < entry.size() ? std::uint8_t(entry[at]) : 0);
            }
            ASSERT_EQ(key.high, carried) << where << " key " << k;
            if (k == 0) continue;
            const std::string before = folded(sorted.keys[k - 1].index);
            const std::size_t same =
                std::mismatch(before.begin(),
                              before.begin() + std::min(before.size(), entry.size()), entry.begin())
                    .first -
                before.begin();
            ASSERT_EQ(sorted.common[k], same) << where << " key " << k;
        }
    }
}

} // namespace

// Small lists sorted by insertion; lists split byte by byte, in place and through the
// spare block; lists long enough for a first split on two bytes; lists whose entries all
// share a prefix longer than eight bytes. Zero bytes, both cases, duplicates, empty
// entries and entries that are prefixes of others come up in all of them.
TEST(EntrySort, GivesThePlainSortsOrderCommonPrefixesAndCarriedBytes) {
    const std::string alphabet = std::string("aAbZ:\xe4", 6) + '\0';
    const ListShape shapes[] = {
        {"small", 0, 16, "Abz", 0, alphabet},
        {"split", 17, 600, "abcdefghijAB", 0, alphabet},
        {"in place", 5000, 9000, "ab", 0, alphabet},
        {"two-byte split", 32768, 36000, "xyz", 0, alphabet},
        {"long shared prefix", 40, 5000, "shared-prefix-of-seventeen", 17, alphabet},
        {"shared by a long list", 32768, 33000, "Shared.Prefix", 10, alphabet},
    };
    SortedEntries sorted;
    for (const ListShape& shape : shapes)
        ASSERT_NO_FATAL_FAILURE(
            ExpectSortedAsAPlainSort(shape, shape.longestList > 1000 ? 2 : 40, sorted));
}
