#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace screening {

// The header lines of messages screened before, by the server's unique id (UIDL), so that a
// later check screens them again without fetching them. An id only counts together with the
// size the server gave it then: a server that hands an id on to another message is caught.
struct TCachedHeader {
    std::int64_t Size = 0;
    std::vector<std::string> Lines;
};
using THeaderCache = std::unordered_map<std::string, TCachedHeader>;

// Where the cache lives: with the lists, one file per account (named as for QuarantinePath),
// so that no account's check prunes another's entries.
std::string HeaderCachePath(const std::string& account = "");

// What a read found: the headers of `account`, or none and why not (the text is for the log).
struct THeaderCacheLoad {
    THeaderCache Headers;
    std::string Problem;
};
// A missing, truncated, corrupt or foreign file (another account's: a change of Server or
// Login starts a new cache) yields an empty cache and its Problem.
THeaderCacheLoad LoadHeaderCache(const std::string& path, const std::string& account);
// Replaces the file at once (0600: the headers are the user's mail); throws on failure.
void SaveHeaderCache(const std::string& path, const std::string& account,
                     const THeaderCache& headers);

} // namespace screening
