#include "net_request/HandlePool.h"

namespace LiveModule {

namespace {

// More than the ten workers and a few synchronous callers need; beyond it returned transfers close.
constexpr size_t kMaxIdle = 16;

}  // namespace

PooledTransfer::PooledTransfer(CURLSH* share) : share(share) {
    multi = curl_multi_init();
    easy = curl_easy_init();
}

PooledTransfer::~PooledTransfer() {
    if (easy) curl_easy_cleanup(easy);
    if (multi) curl_multi_cleanup(multi);  // closes the connections it kept
}

HandlePool::HandlePool() {
    share = curl_share_init();
    if (!share) return;
    curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &HandlePool::LockShare);
    curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &HandlePool::UnlockShare);
    curl_share_setopt(share, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
}

HandlePool::~HandlePool() {
    idle.clear();  // before the share their handles use
    if (share) curl_share_cleanup(share);
}

std::unique_ptr<PooledTransfer> HandlePool::Borrow() {
    std::unique_ptr<PooledTransfer> transfer;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!idle.empty()) {
            transfer = std::move(idle.back());
            idle.pop_back();
        }
    }
    if (!transfer) transfer = std::make_unique<PooledTransfer>(share);
    std::lock_guard<std::mutex> guard(lock);
    lent.insert(transfer.get());
    return transfer;
}

void HandlePool::Return(std::unique_ptr<PooledTransfer> transfer) {
    if (!transfer) return;
    std::unique_ptr<PooledTransfer> surplus;  // freed outside the lock: closing may take a while
    std::lock_guard<std::mutex> guard(lock);
    lent.erase(transfer.get());
    if (transfer->Usable() && idle.size() < kMaxIdle) {
        idle.push_back(std::move(transfer));
    } else {
        surplus = std::move(transfer);
    }
}

void HandlePool::WakeAll() {
    std::lock_guard<std::mutex> guard(lock);
    // A wake-up that comes before the poll still ends it: libcurl keeps it until then.
    for (PooledTransfer* transfer : lent) {
        if (transfer->multi) curl_multi_wakeup(transfer->multi);
    }
}

void HandlePool::CloseIdle() {
    std::vector<std::unique_ptr<PooledTransfer>> closing;
    std::lock_guard<std::mutex> guard(lock);
    closing.swap(idle);
}

void HandlePool::LockShare(CURL*, curl_lock_data data, curl_lock_access, void* pool) {
    static_cast<HandlePool*>(pool)->shareLocks[data].lock();
}

void HandlePool::UnlockShare(CURL*, curl_lock_data data, void* pool) {
    static_cast<HandlePool*>(pool)->shareLocks[data].unlock();
}

}  // namespace LiveModule
