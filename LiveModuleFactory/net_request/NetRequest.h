#pragma once

#include <atomic>
#include <functional>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "LiveModule/ILiveModule.h"
#include "LiveModule/INetRequest.h"
#include "net_request/DeliveryTracker.h"
#include "net_request/HandlePool.h"
#include "net_request/RequestJobs.h"
#include "net_request/ResponseInfo.h"
#include "ProductVersion.h"
#include "platform/UiWakeup.h"

namespace LiveModule {

// The built-in "net_request" module: GET, form POST and downloads into files, run on the caller's
// thread (synchronous) or on five workers per kind (asynchronous), with results delivered on the
// worker or, through a queue that wakes the starting thread's event loop only when it holds
// something, on the thread that started the service (the UI thread).
//
// Threads: the UI thread constructs, starts and destroys the object and runs every UI-delivered
// callback (DeliverUiTasks); 5 GET/POST workers and 5 download workers run jobs and deliver the
// others; any thread, including any callback, may submit, withdraw and stop.
// Locks, outermost first: lifecycleLock; a kind's lock (httpLock, downloadLock; never both);
// uiLock; the tracker's own lock. No callback is ever called with one of them held, so a callback
// may call every operation. Once CancelRequest or CancelOwnerRequests has returned, no callback of
// the withdrawn requests starts, and none still runs on another thread (unless that thread waits,
// itself, for the withdrawing one: DeliveryTracker).
class NetRequest : public ILiveModule, public INetRequest {
public:
    NetRequest();
    ~NetRequest() override;  // stops first, and joins a worker that stopped the service
    NetRequest(const NetRequest&) = delete;
    NetRequest& operator=(const NetRequest&) = delete;

    // ILiveModule
    bool Initialize() override;  // starts: workers, and deliveries on the calling thread's loop
    const char* GetId() override { return "net_request"; }
    const wchar_t* GetName() override { return L"net_request_module"; }
    const char* GetVersion() override { return FactoryProductVersion(); }
    uint64_t GetServiceApiVersion() override { return kInterfaceVersion; }
    const char* GetText8() override { return ""; }
    void SetDisabled(bool) override {}
    bool IsDisabled() override { return false; }
    // Stops from any thread: transfers in flight are aborted, queued work and pending results are
    // dropped, and the workers are joined (all but the calling one, which ends once its callback
    // returns). Afterwards no callback of an asynchronous request starts.
    void Uninitialize() override;

    // INetRequest
    int32_t HttpGet(const stHttpRequest* request) override;
    int32_t HttpPost(const stHttpRequest* request) override;
    int32_t DownloadFile(const stDownloadRequest* request) override;
    int32_t UploadFile(const stUploadRequest* request) override;
    void CancelRequest(int32_t id) override;
    void CancelOwnerRequests(void* owner) override;

    // The process-wide request id counter: ids start at 2 and are shared by every kind (atomic).
    static int32_t NextRequestId();

private:
    void StartWorkers();
    void RequestWorkerLoop(uint64_t generation);
    void DownloadWorkerLoop(uint64_t generation);
    // One worker of a kind: takes jobs, runs them unlocked and delivers what was not withdrawn.
    template <class Job, class Execute>
    void RunWorker(uint64_t generation, std::list<Job>& queue, std::map<int32_t, Job>& active,
                   std::condition_variable& wakeup, std::mutex& lock, Execute execute);
    bool Serving(uint64_t generation) const { return running && this->generation == generation; }
    // Queues a task for the UI thread and wakes it; dropped once the service stops. Takes uiLock.
    // A progress report (`report`) may wait up to kReportDelay for its wake-up, so that a fast
    // download wakes the UI thread about once a millisecond rather than once a chunk; a result
    // always wakes it at once.
    void PostToUiThread(NeUiTask task, bool report = false);
    // For transfers in flight: wakes the UI thread for reports whose delay is over (or for any
    // waiting report, once a transfer ends), and says how long (ms) a transfer may sleep before the
    // next ones are due.
    void WakeForDueReports(bool transferEnded = false);
    int ReportsDueInMs();
    void DeliverUiTasks();
    // Joins the threads of `threads` other than the calling one, which goes to `retired`.
    void JoinWorkers(std::list<std::thread> threads);
    void JoinRetired();

    // Removes every queued, in-flight and pending UI task of the requests `matches` names (by id and
    // owner), then waits for their callbacks under way on other threads.
    void Withdraw(const std::function<bool(int32_t id, void* owner)>& matches);
    int32_t SubmitHttp(const stHttpRequest* request, bool isGet);
    void DoGet(const NeHttpReqInfo& job, NeResInfo& result, std::string& text);
    void DoPost(const NeHttpReqInfo& job, NeResInfo& result, std::string& text);
    void DoHttp(const NeHttpReqInfo& job, NeResInfo& result, std::string& text);
    void DoDownload(const NeDownloadReqInfo& job, NeResInfo& result);
    // After each chunk of a download is on disk: reports progress; false aborts the transfer.
    bool OnDownloadProgress(const NeDownloadReqInfo& job, int64_t received, int64_t total);

    // What UI tasks run: each calls a set callback for a request id of 0 or more.
    static void InvokeResponseCallback(ResponseCallback callback, const NeResInfo& result, const std::string& text);
    static void InvokeProgressCallback(ProgressCallback callback, int32_t id, double fraction, void* userData);
    static void InvokeByteProgressCallback(ByteProgressCallback callback, int32_t id, int64_t received,
                                           int64_t total, void* userData);

    // Set by start, cleared by stop (under lifecycleLock); read anywhere without a lock.
    std::atomic<bool> running{false};
    // Counts starts, so that a worker of an earlier start never serves a later one.
    std::atomic<uint64_t> generation{0};
    // Fixed at construction; read by GET/POST executions on any thread.
    const std::string userDevice;
    // Transfers with their connections, DNS cache and TLS sessions; used by every execution.
    HandlePool pool;
    // Callbacks under way, and the waits of withdrawals and stops.
    DeliveryTracker tracker;

    // Guards the worker lists, retired, stopper and starts and stops themselves.
    std::mutex lifecycleLock;
    std::condition_variable stopped;  // a stop ended (stopper cleared)
    std::list<std::thread> httpWorkers;
    std::list<std::thread> downloadWorkers;
    // Workers that stopped the service from their own callback: they end by themselves and are
    // joined by the next start, stop or the destructor.
    std::list<std::thread> retired;
    std::thread::id stopper;  // the thread running a stop; empty when none runs

    // GET/POST kind, guarded by httpLock: jobs waiting (first in, first out) and jobs taken by a
    // worker whose result has not been handed on.
    std::list<NeHttpReqInfo> httpQueue;
    std::map<int32_t, NeHttpReqInfo> httpActive;
    std::condition_variable httpWakeup;  // a job was queued, or the service stops
    std::mutex httpLock;

    // Download kind: the same members, guarded by downloadLock.
    std::list<NeDownloadReqInfo> downloadQueue;
    std::map<int32_t, NeDownloadReqInfo> downloadActive;
    std::condition_variable downloadWakeup;
    std::mutex downloadLock;

    // Guards uiTasks, uiBatch, uiWakeup, lastWake and reportsWaiting.
    std::mutex uiLock;
    std::chrono::steady_clock::time_point lastWake;  // when the UI thread was last woken
    bool reportsWaiting = false;  // reports queued whose wake-up was put off
    // Tasks for the UI thread, first in, first out; the next delivery takes all of them.
    std::list<NeUiTask> uiTasks;
    // The tasks the running delivery took and has not begun yet. They stay in reach of withdrawals
    // (a callback may withdraw a later one); tasks posted meanwhile wait in uiTasks.
    std::list<NeUiTask> uiBatch;
    // Wakes the UI thread's loop: made by the first start on that thread, kept until destruction
    // (a stopped service's wakes are never asked for). Set and reset under uiLock.
    std::unique_ptr<platform::UiWakeup> uiWakeup;
};

}  // namespace LiveModule
