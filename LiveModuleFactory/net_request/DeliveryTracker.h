#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace LiveModule {

// Which callbacks of the network service are running, on which threads, and who waits for whom.
// A withdrawal waits for the callbacks of its requests that run on other threads, so that once it
// returns none of them is still at work; it does not wait when the wait would close a circle of
// threads waiting for one another (each inside a callback withdrawing the other's request, or a
// stop joining a worker whose callback waits for the stopping thread): one of them then returns at
// once and the circle never forms.
//
// Threads: any. Its lock is the innermost of the service: taken while a kind's or the UI queue's
// lock may be held, and nothing is called while it is held.
class DeliveryTracker {
public:
    // The calling thread starts a callback of request `id` of `owner` (nesting allowed).
    void Begin(int32_t id, void* owner);
    // The calling thread ended its latest callback.
    void End();
    // Returns once no callback for which `matches` answers true runs on another thread, or when
    // waiting for the rest could close a circle of waits.
    void WaitForCallbacks(const std::function<bool(int32_t id, void* owner)>& matches);

    // Announces that the calling thread is about to block until `threads` end (joining them), so
    // that their callbacks do not wait for it; withdrawn by its destructor.
    class Joining {
    public:
        Joining(DeliveryTracker& tracker, std::vector<std::thread::id> threads);
        ~Joining();
        Joining(const Joining&) = delete;
        Joining& operator=(const Joining&) = delete;

    private:
        DeliveryTracker& tracker;
    };

private:
    struct Running {
        int32_t id;
        void* owner;
        std::thread::id thread;
    };
    // True when a thread of `from` waits, directly or through others, for `target`.
    bool Reaches(const std::vector<std::thread::id>& from, std::thread::id target) const;
    // Records what the calling thread waits for; wakes waiters when that changed (a new circle).
    void SetWaits(std::vector<std::thread::id> threads);
    void ClearWaits();

    std::mutex lock;                  // guards everything below
    std::condition_variable changed;  // a callback ended or a wait began
    std::vector<Running> running;     // in the order they began
    std::map<std::thread::id, std::vector<std::thread::id>> waitsFor;
};

}  // namespace LiveModule
