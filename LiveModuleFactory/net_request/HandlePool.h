#pragma once

#include <curl/curl.h>

#include <array>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace LiveModule {

// One reusable transfer: an easy handle driven through a multi handle of its own. The multi handle
// keeps the connections its transfers opened, so the next request to the same server reuses one,
// and its poll can be interrupted from another thread.
class PooledTransfer {
public:
    explicit PooledTransfer(CURLSH* share);
    ~PooledTransfer();
    PooledTransfer(const PooledTransfer&) = delete;
    PooledTransfer& operator=(const PooledTransfer&) = delete;

    bool Usable() const { return multi && easy; }
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    CURLSH* const share;
};

// The transfers of one network service, lent to one session at a time and taken back afterwards,
// with a DNS cache and TLS sessions that all of them share. Any thread may borrow and return.
class HandlePool {
public:
    HandlePool();
    ~HandlePool();  // every transfer must have been returned
    HandlePool(const HandlePool&) = delete;
    HandlePool& operator=(const HandlePool&) = delete;

    // An idle transfer (the one used last, whose connections are warmest) or a new one.
    std::unique_ptr<PooledTransfer> Borrow();
    void Return(std::unique_ptr<PooledTransfer> transfer);
    // Interrupts the wait of every transfer lent out, so each one asks at once whether to go on.
    void WakeAll();
    // Frees the idle transfers and closes their connections.
    void CloseIdle();

private:
    static void LockShare(CURL*, curl_lock_data data, curl_lock_access, void* pool);
    static void UnlockShare(CURL*, curl_lock_data data, void* pool);

    // One lock per kind of shared data, as libcurl asks; taken only inside libcurl's calls.
    std::array<std::mutex, CURL_LOCK_DATA_LAST> shareLocks;
    CURLSH* share = nullptr;  // DNS cache and TLS sessions; freed last

    std::mutex lock;  // guards idle and lent
    std::vector<std::unique_ptr<PooledTransfer>> idle;
    std::set<PooledTransfer*> lent;  // owned by their borrowers
};

}  // namespace LiveModule
