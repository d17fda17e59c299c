#include "net_request/DeliveryTracker.h"

#include <algorithm>
#include <set>

namespace LiveModule {

void DeliveryTracker::Begin(int32_t id, void* owner) {
    std::lock_guard<std::mutex> guard(lock);
    running.push_back(Running{id, owner, std::this_thread::get_id()});
}

void DeliveryTracker::End() {
    const std::thread::id self = std::this_thread::get_id();
    {
        std::lock_guard<std::mutex> guard(lock);
        const auto latest = std::find_if(running.rbegin(), running.rend(),
                                         [self](const Running& callback) { return callback.thread == self; });
        if (latest != running.rend()) running.erase(std::next(latest).base());
    }
    changed.notify_all();
}

void DeliveryTracker::WaitForCallbacks(const std::function<bool(int32_t, void*)>& matches) {
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        std::vector<std::thread::id> threads;
        for (const Running& callback : running) {
            if (callback.thread != self && matches(callback.id, callback.owner)) threads.push_back(callback.thread);
        }
        if (threads.empty() || Reaches(threads, self)) break;
        SetWaits(std::move(threads));
        changed.wait(guard);
    }
    ClearWaits();
}

bool DeliveryTracker::Reaches(const std::vector<std::thread::id>& from, std::thread::id target) const {
    std::vector<std::thread::id> next(from);
    std::set<std::thread::id> seen;
    while (!next.empty()) {
        const std::thread::id thread = next.back();
        next.pop_back();
        if (thread == target) return true;
        if (!seen.insert(thread).second) continue;
        const auto waits = waitsFor.find(thread);
        if (waits != waitsFor.end()) next.insert(next.end(), waits->second.begin(), waits->second.end());
    }
    return false;
}

void DeliveryTracker::SetWaits(std::vector<std::thread::id> threads) {
    std::sort(threads.begin(), threads.end());
    std::vector<std::thread::id>& waits = waitsFor[std::this_thread::get_id()];
    if (waits == threads) return;
    waits = std::move(threads);
    // Waiters look again: this wait may close a circle through them.
    changed.notify_all();
}

void DeliveryTracker::ClearWaits() {
    waitsFor.erase(std::this_thread::get_id());
}

DeliveryTracker::Joining::Joining(DeliveryTracker& tracker, std::vector<std::thread::id> threads) : tracker(tracker) {
    std::lock_guard<std::mutex> guard(tracker.lock);
    tracker.SetWaits(std::move(threads));
}

DeliveryTracker::Joining::~Joining() {
    std::lock_guard<std::mutex> guard(tracker.lock);
    tracker.ClearWaits();
}

}  // namespace LiveModule
