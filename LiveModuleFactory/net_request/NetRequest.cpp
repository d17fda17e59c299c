#include "net_request/NetRequest.h"

#include <algorithm>
#include <vector>

#include "DeviceIdentity.h"
#include "net_request/HttpSession.h"

// Lifecycle, workers, UI-thread delivery and withdrawal.
namespace LiveModule {

namespace {

constexpr int kWorkersPerKind = 5;

// The longest a progress report waits for the UI thread to be woken.
constexpr auto kReportDelay = std::chrono::milliseconds(1);

// Shared by every instance and kind; the first id handed out is 2.
std::atomic<int32_t> requestCounter{1};

// The service whose worker the calling thread is, if any.
thread_local const NetRequest* workerOf = nullptr;

template <class Job, class Matches>
void EraseAll(std::list<Job>& list, Matches matches) {
    list.remove_if([&](const Job& job) { return matches(job.id, job.owner); });
}

template <class Job, class Matches>
void EraseAll(std::map<int32_t, Job>& table, Matches matches) {
    for (auto entry = table.begin(); entry != table.end();) {
        entry = matches(entry->second.id, entry->second.owner) ? table.erase(entry) : std::next(entry);
    }
}

// Empties a kind's queue and table and wakes its idle workers, which then see the service stopped.
template <class Job>
void DropKind(std::mutex& lock, std::list<Job>& queue, std::map<int32_t, Job>& active,
              std::condition_variable& wakeup) {
    std::list<Job> droppedQueue;
    std::map<int32_t, Job> droppedActive;
    {
        std::lock_guard<std::mutex> guard(lock);
        droppedQueue.swap(queue);
        droppedActive.swap(active);
    }
    wakeup.notify_all();
}

}  // namespace

NetRequest::NetRequest() : userDevice(MakeUserDevice()) {
    // Before any worker exists, so no thread ever sets the library up lazily.
    HttpSession::InitializeLibrary();
}

NetRequest::~NetRequest() {
    Uninitialize();
    JoinRetired();
    std::lock_guard<std::mutex> ui(uiLock);
    uiWakeup.reset();
}

bool NetRequest::Initialize() {
    std::unique_lock<std::mutex> guard(lifecycleLock);
    if (running) return true;
    if (stopper != std::thread::id() && stopper != std::this_thread::get_id()) {
        // A stop runs on another thread: start once it is over.
        DeliveryTracker::Joining joining(tracker, {stopper});
        stopped.wait(guard, [this] { return stopper == std::thread::id(); });
        if (running) return true;
    }
    ++generation;
    running = true;
    {
        // Made once, on the thread of the first start, and kept: the event loop's source is then
        // only ever freed on that thread (by the destructor), never under a running loop elsewhere.
        std::lock_guard<std::mutex> ui(uiLock);
        if (!uiWakeup) uiWakeup = std::make_unique<platform::UiWakeup>([this] { DeliverUiTasks(); });
    }
    StartWorkers();
    guard.unlock();
    JoinRetired();
    return true;
}

void NetRequest::Uninitialize() {
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> guard(lifecycleLock);
    if (!running) {
        // A stop under way on another thread ends before this one returns, unless this thread is
        // a worker that stop is about to join.
        if (stopper != std::thread::id() && stopper != self && workerOf != this) {
            DeliveryTracker::Joining joining(tracker, {stopper});
            stopped.wait(guard, [this] { return stopper == std::thread::id(); });
        }
        guard.unlock();
        if (workerOf != this) JoinRetired();
        return;
    }
    running = false;
    stopper = self;
    std::list<std::thread> workers;
    workers.swap(httpWorkers);
    workers.splice(workers.end(), downloadWorkers);
    guard.unlock();

    DropKind(httpLock, httpQueue, httpActive, httpWakeup);
    DropKind(downloadLock, downloadQueue, downloadActive, downloadWakeup);
    std::list<NeUiTask> droppedTasks;
    {
        std::lock_guard<std::mutex> ui(uiLock);
        droppedTasks.swap(uiTasks);
        droppedTasks.splice(droppedTasks.end(), uiBatch);
    }
    // Transfers in flight notice the stop now, not at their next chunk or time-out.
    pool.WakeAll();
    JoinWorkers(std::move(workers));
    pool.CloseIdle();

    guard.lock();
    stopper = std::thread::id();
    guard.unlock();
    stopped.notify_all();
    if (workerOf != this) JoinRetired();
}

void NetRequest::StartWorkers() {
    const uint64_t current = generation;
    for (int i = 0; i < kWorkersPerKind; ++i) {
        httpWorkers.emplace_back(&NetRequest::RequestWorkerLoop, this, current);
        downloadWorkers.emplace_back(&NetRequest::DownloadWorkerLoop, this, current);
    }
}

void NetRequest::JoinWorkers(std::list<std::thread> threads) {
    const std::thread::id self = std::this_thread::get_id();
    std::vector<std::thread::id> others;
    for (const std::thread& thread : threads) {
        if (thread.get_id() != self) others.push_back(thread.get_id());
    }
    // Their callbacks must not wait for this thread while it waits for them.
    DeliveryTracker::Joining joining(tracker, others);
    for (std::thread& thread : threads) {
        if (thread.get_id() != self) {
            thread.join();
        } else {
            // A worker stopping the service from its callback ends when the callback returns.
            std::lock_guard<std::mutex> guard(lifecycleLock);
            retired.push_back(std::move(thread));
        }
    }
}

void NetRequest::JoinRetired() {
    const std::thread::id self = std::this_thread::get_id();
    std::list<std::thread> joining;
    {
        std::lock_guard<std::mutex> guard(lifecycleLock);
        for (auto thread = retired.begin(); thread != retired.end();) {
            auto next = std::next(thread);
            if (thread->get_id() != self) joining.splice(joining.end(), retired, thread);
            thread = next;
        }
    }
    std::vector<std::thread::id> ids;
    for (const std::thread& thread : joining) ids.push_back(thread.get_id());
    DeliveryTracker::Joining waiting(tracker, ids);
    for (std::thread& thread : joining) thread.join();
}

void NetRequest::RequestWorkerLoop(uint64_t current) {
    RunWorker(current, httpQueue, httpActive, httpWakeup, httpLock,
              [this](const NeHttpReqInfo& job, NeResInfo& result, std::string& text) {
                  if (job.isGet) {
                      DoGet(job, result, text);
                  } else {
                      DoPost(job, result, text);
                  }
              });
}

void NetRequest::DownloadWorkerLoop(uint64_t current) {
    RunWorker(current, downloadQueue, downloadActive, downloadWakeup, downloadLock,
              [this](const NeDownloadReqInfo& job, NeResInfo& result, std::string& text) {
                  DoDownload(job, result);
                  text = job.savePath;
              });
}

template <class Job, class Execute>
void NetRequest::RunWorker(uint64_t current, std::list<Job>& queue, std::map<int32_t, Job>& active,
                           std::condition_variable& wakeup, std::mutex& lock, Execute execute) {
    workerOf = this;
    while (Serving(current)) {
        std::unique_lock<std::mutex> guard(lock);
        if (queue.empty()) {
            // Stop clears running before it takes the lock to wake us, so no wake-up is lost.
            if (Serving(current)) wakeup.wait(guard);
            continue;
        }
        // The worker runs its own copy: a withdrawal may remove the table entry at any time.
        const Job job = std::move(queue.front());
        queue.pop_front();
        active[job.id] = job;
        guard.unlock();

        NeResInfo result;
        std::string text;
        execute(job, result, text);

        guard.lock();
        const auto entry = active.find(job.id);
        if (entry == active.end()) continue;  // withdrawn, or the service stopped
        const ResponseCallback callback = entry->second.onResponse;
        const bool onUiThread = entry->second.callbackOnUiThread;
        active.erase(entry);
        if (!running || !callback) continue;
        if (onUiThread) {
            PostToUiThread(NeUiTask{job.id, job.owner, [callback, result, text] {
                                        InvokeResponseCallback(callback, result, text);
                                    }});
            continue;
        }
        // Marked as running before the lock goes, so a withdrawal that no longer finds the entry
        // finds the callback and waits for it.
        tracker.Begin(job.id, job.owner);
        guard.unlock();
        callback(MakeResponseInfo(result), text.c_str());
        tracker.End();
    }
    workerOf = nullptr;
}

void NetRequest::PostToUiThread(NeUiTask task, bool report) {
    std::lock_guard<std::mutex> guard(uiLock);
    if (!running || !uiWakeup) return;
    uiTasks.push_back(std::move(task));
    const auto now = std::chrono::steady_clock::now();
    if (report && now - lastWake < kReportDelay) {
        // The thread was woken a moment ago: this report goes with the next wake-up, due soon.
        reportsWaiting = true;
        return;
    }
    lastWake = now;
    reportsWaiting = false;
    uiWakeup->Wake();
}

void NetRequest::WakeForDueReports(bool transferEnded) {
    std::lock_guard<std::mutex> guard(uiLock);
    const auto now = std::chrono::steady_clock::now();
    if (!reportsWaiting || !uiWakeup || (!transferEnded && now - lastWake < kReportDelay)) return;
    lastWake = now;
    reportsWaiting = false;
    uiWakeup->Wake();
}

int NetRequest::ReportsDueInMs() {
    std::lock_guard<std::mutex> guard(uiLock);
    if (!reportsWaiting) return 1000;
    const auto left = kReportDelay - (std::chrono::steady_clock::now() - lastWake);
    // Rounded up, so the transfer wakes once they are due, not just before.
    return static_cast<int>(std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
}

void NetRequest::DeliverUiTasks() {
    if (!running) return;
    {
        std::lock_guard<std::mutex> guard(uiLock);
        uiBatch.splice(uiBatch.end(), uiTasks);
        reportsWaiting = false;  // they are being delivered now
    }
    // One task at a time, so that a withdrawal made by a callback reaches the rest of the batch.
    while (running) {
        NeUiTask next;
        {
            std::lock_guard<std::mutex> guard(uiLock);
            if (uiBatch.empty()) break;
            next = std::move(uiBatch.front());
            uiBatch.pop_front();
            if (!next.task) continue;
            tracker.Begin(next.id, next.owner);
        }
        next.task();
        tracker.End();
    }
}

int32_t NetRequest::NextRequestId() {
    return requestCounter.fetch_add(1) + 1;
}

void NetRequest::CancelRequest(int32_t id) {
    Withdraw([id](int32_t of, void*) { return of == id; });
}

void NetRequest::CancelOwnerRequests(void* owner) {
    if (!owner) return;
    Withdraw([owner](int32_t, void* of) { return of == owner; });
}

void NetRequest::Withdraw(const std::function<bool(int32_t id, void* owner)>& matches) {
    {
        std::lock_guard<std::mutex> guard(httpLock);
        EraseAll(httpQueue, matches);
        EraseAll(httpActive, matches);
    }
    {
        std::lock_guard<std::mutex> guard(downloadLock);
        EraseAll(downloadQueue, matches);
        EraseAll(downloadActive, matches);
    }
    {
        // Every pending task of the request: its progress reports as well as its result.
        std::lock_guard<std::mutex> guard(uiLock);
        EraseAll(uiBatch, matches);
        EraseAll(uiTasks, matches);
    }
    tracker.WaitForCallbacks(matches);
}

}  // namespace LiveModule
