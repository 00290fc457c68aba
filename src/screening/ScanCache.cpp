// The header cache of a check: the messages' ids and sizes listed before the first TOP, the
// headers of known messages taken from the cache, and the cache written back at the end.

#include "ScanSession.h"

#include "config/dataConfig.h"

#include <exception>
#include <unordered_set>

namespace screening {

namespace {
constexpr std::uint16_t kNegativeReply = 500; // the client's code for -ERR
} // namespace

void TScanSession::BeginMessages(bool serverCanPipeline) {
    if (!config_.HeaderCache) return StartPipelining(serverCanPipeline);
    canPipeline_ = serverCanPipeline;
    uidls_.assign(std::size_t(client_.MsgCount()) + 1, "");
    sizes_.assign(uidls_.size(), -1);
    Enter(ListingUids);
}

void TScanSession::TakeListLine(bool ids) {
    const std::int32_t msg = client_.MsgNum();
    if (msg < 1 || std::size_t(msg) >= uidls_.size()) return; // not of this session's count
    if (ids)
        uidls_[msg] = client_.MsgUidl();
    else
        sizes_[msg] = client_.MsgSize();
}

// A server without UIDL is scanned as if there were no cache.
void TScanSession::UidlDone(std::uint16_t error) {
    if (marked_ && error == kNegativeReply) return Enter(ListingSizes); // numbers and headers
    if (error == kNegativeReply) {
        Log("Server lists no message ids - header cache not used");
        return StartPipelining(canPipeline_);
    }
    if (error != 0) return Fail("Error " + Num(error) + " listing message ids");
    Enter(ListingSizes);
}

void TScanSession::ListDone(std::uint16_t error) {
    if (marked_ && (error == 0 || error == kNegativeReply)) return NextMarked();
    if (error == kNegativeReply) {
        Log("Server lists no message sizes - header cache not used");
        return StartPipelining(canPipeline_);
    }
    if (error != 0) return Fail("Error " + Num(error) + " listing messages");
    // An id given twice cannot tell its messages apart: either could get the other's headers.
    std::unordered_set<std::string> seen;
    bool unique = true;
    for (const std::string& id : uidls_)
        if (!id.empty() && !seen.insert(id).second) unique = false;
    if (unique)
        UseCache();
    else
        Log("A message id is listed twice - header cache not used for this check");
    StartPipelining(canPipeline_);
}

void TScanSession::UseCache() {
    THeaderCacheLoad loaded = LoadHeaderCache(HeaderCachePath(config_.FilesName), CacheAccount());
    if (!loaded.Problem.empty()) Log(loaded.Problem);
    cacheUsed_ = true;
    // Only what is still on the server stays.
    for (std::size_t msg = 1; msg < uidls_.size(); ++msg) {
        const auto it = loaded.Headers.find(uidls_[msg]);
        if (it != loaded.Headers.end() && it->second.Size == sizes_[msg])
            cache_.insert(loaded.Headers.extract(it));
    }
    // What is left over is gone from the server.
    cacheChanged_ = !loaded.Problem.empty() || !loaded.Headers.empty();
}

const TCachedHeader* TScanSession::Cached(std::int32_t msg) const {
    if (!cacheUsed_ || msg < 1 || std::size_t(msg) >= uidls_.size()) return nullptr;
    const auto it = cache_.find(uidls_[msg]);
    if (it == cache_.end() || it->second.Size != sizes_[msg]) return nullptr;
    return &it->second;
}

void TScanSession::CacheHeaders() {
    if (!cacheUsed_ || uidls_[currentMsg_].empty() || sizes_[currentMsg_] < 0) return;
    cache_[uidls_[currentMsg_]] = {sizes_[currentMsg_], headerLines_};
    cacheChanged_ = true;
}

void TScanSession::SaveCache() {
    if (quitAnswered_)
        for (const std::string& id : deletedIds_)
            if (cache_.erase(id)) cacheChanged_ = true;
    Log("Headers from cache: " + Num(fromCache_) + " of " + Num(checkedCount_) + " checked");
    // A check that found nothing new (a cron job's usual case) leaves the file alone.
    if (!cacheChanged_) return;
    try {
        SaveHeaderCache(HeaderCachePath(config_.FilesName), CacheAccount(), cache_);
    } catch (const std::exception& e) {
        // The check itself went well; the next one only fetches more.
        Log(std::string("Cannot save the header cache: ") + e.what());
    }
}

// A change of server or login starts a new cache.
std::string TScanSession::CacheAccount() const {
    return config_.Server + "\n" + config_.Login;
}

} // namespace screening
