#include "net_request/NetRequest.h"

#include <algorithm>

#include "DeviceIdentity.h"
#include "net_request/HttpSession.h"

// Lifecycle, workers, UI-thread delivery and withdrawal.
namespace LiveModule {

namespace {

constexpr int kWorkersPerKind = 5;

// Shared by every instance and kind; the first id handed out is 2.
std::atomic<int32_t> requestCounter{1};

template <class Job>
bool EraseFirstWithId(std::list<Job>& list, int32_t id) {
    const auto found = std::find_if(list.begin(), list.end(), [id](const Job& job) { return job.id == id; });
    if (found == list.end()) return false;
    list.erase(found);
    return true;
}

template <class Job>
void EraseAllOfOwner(std::list<Job>& list, void* owner) {
    list.remove_if([owner](const Job& job) { return job.owner == owner; });
}

template <class Job>
void EraseAllOfOwner(std::map<int32_t, Job>& table, void* owner) {
    for (auto entry = table.begin(); entry != table.end();) {
        entry = entry->second.owner == owner ? table.erase(entry) : std::next(entry);
    }
}

// Empties a kind and joins its workers. The lock is released before joining: workers need it to
// notice that they are done.
template <class Job>
void StopKind(std::mutex& lock, std::list<Job>& queue, std::map<int32_t, Job>& active,
              std::condition_variable& wakeup, std::list<std::thread>& workers) {
    std::list<Job> droppedQueue;
    std::map<int32_t, Job> droppedActive;
    std::list<std::thread> joining;
    {
        std::lock_guard<std::mutex> guard(lock);
        droppedQueue.swap(queue);
        droppedActive.swap(active);
        joining.swap(workers);
    }
    wakeup.notify_all();
    for (std::thread& worker : joining) worker.join();
}

}  // namespace

NetRequest::NetRequest() : userDevice(MakeUserDevice()) {
    // Before any worker exists, so no thread ever sets the library up lazily.
    HttpSession::InitializeLibrary();
}

NetRequest::~NetRequest() {
    Uninitialize();
}

bool NetRequest::Initialize() {
    if (running) return true;
    running = true;
    StartWorkers();
    // The tick carries the instance itself, so no process-wide pointer is needed.
    timerId = platform::SetThreadTimer(1, [this] { OnTimer(); });
    return true;
}

void NetRequest::Uninitialize() {
    if (!running.exchange(false)) return;
    if (timerId != 0) {
        platform::KillThreadTimer(timerId);
        timerId = 0;
    }
    StopWorkers();
    std::list<NeUiTask> dropped;
    {
        std::lock_guard<std::mutex> guard(uiLock);
        dropped.swap(uiTasks);
        dropped.splice(dropped.end(), uiBatch);
    }
}

void NetRequest::StartWorkers() {
    {
        std::lock_guard<std::mutex> guard(httpLock);
        if (httpWorkers.empty()) {
            for (int i = 0; i < kWorkersPerKind; ++i) httpWorkers.emplace_back(&NetRequest::RequestWorkerLoop, this);
        }
    }
    std::lock_guard<std::mutex> guard(downloadLock);
    if (downloadWorkers.empty()) {
        for (int i = 0; i < kWorkersPerKind; ++i) downloadWorkers.emplace_back(&NetRequest::DownloadWorkerLoop, this);
    }
}

void NetRequest::StopWorkers() {
    StopKind(httpLock, httpQueue, httpActive, httpWakeup, httpWorkers);
    StopKind(downloadLock, downloadQueue, downloadActive, downloadWakeup, downloadWorkers);
}

void NetRequest::RequestWorkerLoop() {
    RunWorker(httpQueue, httpActive, httpWakeup, httpLock,
              [this](const NeHttpReqInfo& job, NeResInfo& result, std::string& text) {
                  if (job.isGet) {
                      DoGet(job, result, text);
                  } else {
                      DoPost(job, result, text);
                  }
              });
}

void NetRequest::DownloadWorkerLoop() {
    RunWorker(downloadQueue, downloadActive, downloadWakeup, downloadLock,
              [this](const NeDownloadReqInfo& job, NeResInfo& result, std::string& text) {
                  DoDownload(job, result);
                  text = job.savePath;
              });
}

template <class Job, class Execute>
void NetRequest::RunWorker(std::list<Job>& queue, std::map<int32_t, Job>& active, std::condition_variable& wakeup,
                           std::mutex& lock, Execute execute) {
    while (running) {
        std::unique_lock<std::mutex> guard(lock);
        if (queue.empty()) {
            // Stop clears running before it takes the lock to wake us, so no wake-up is lost.
            if (running) wakeup.wait(guard);
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
        if (!running) {
            // Stopping: the other kind may still be in the way of this table being emptied.
            active.erase(entry);
            continue;
        }
        const ResponseCallback callback = entry->second.onResponse;
        if (callback && entry->second.callbackOnUiThread) {
            PostToUiThread(NeUiTask{job.id, job.owner, [callback, result, text] {
                                        InvokeResponseCallback(callback, result, text);
                                    }});
        } else if (callback) {
            // Under the lock, so a withdrawal that has returned is never followed by this call.
            const stResponseInfo info = MakeResponseInfo(result);
            callback(info, text.c_str());
        }
        active.erase(entry);
    }
}

void NetRequest::PostToUiThread(NeUiTask task) {
    std::lock_guard<std::mutex> guard(uiLock);
    uiTasks.push_back(std::move(task));
}

void NetRequest::OnTimer() {
    if (!running) return;
    {
        std::lock_guard<std::mutex> guard(uiLock);
        uiBatch.splice(uiBatch.end(), uiTasks);
    }
    // One task at a time, so that a withdrawal made by a callback reaches the rest of the batch.
    while (running) {
        NeUiTask next;
        {
            std::lock_guard<std::mutex> guard(uiLock);
            if (uiBatch.empty()) break;
            next = std::move(uiBatch.front());
            uiBatch.pop_front();
        }
        if (next.task) next.task();
    }
}

int32_t NetRequest::NextRequestId() {
    return requestCounter.fetch_add(1) + 1;
}

void NetRequest::CancelRequest(int32_t id) {
    {
        std::lock_guard<std::mutex> guard(httpLock);
        if (EraseFirstWithId(httpQueue, id)) return;
    }
    {
        std::lock_guard<std::mutex> guard(httpLock);
        if (httpActive.erase(id) > 0) return;
    }
    {
        std::lock_guard<std::mutex> guard(downloadLock);
        if (EraseFirstWithId(downloadQueue, id)) return;
    }
    {
        std::lock_guard<std::mutex> guard(downloadLock);
        if (downloadActive.erase(id) > 0) return;
    }
    std::lock_guard<std::mutex> guard(uiLock);
    // The running tick's tasks are older than the queued ones.
    if (!EraseFirstWithId(uiBatch, id)) EraseFirstWithId(uiTasks, id);
}

void NetRequest::CancelOwnerRequests(void* owner) {
    if (!owner) return;
    {
        std::lock_guard<std::mutex> guard(httpLock);
        EraseAllOfOwner(httpQueue, owner);
        EraseAllOfOwner(httpActive, owner);
    }
    {
        std::lock_guard<std::mutex> guard(downloadLock);
        EraseAllOfOwner(downloadQueue, owner);
        EraseAllOfOwner(downloadActive, owner);
    }
    std::lock_guard<std::mutex> guard(uiLock);
    EraseAllOfOwner(uiBatch, owner);
    EraseAllOfOwner(uiTasks, owner);
}

}  // namespace LiveModule
