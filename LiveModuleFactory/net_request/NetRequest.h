#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "LiveModule/ILiveModule.h"
#include "LiveModule/INetRequest.h"
#include "net_request/RequestJobs.h"
#include "net_request/ResponseInfo.h"
#include "ProductVersion.h"
#include "platform/ThreadTimer.h"

namespace LiveModule {

// The built-in "net_request" module: GET, form POST and downloads into files, run on the caller's
// thread (synchronous) or on five workers per kind (asynchronous), with results delivered on the
// worker or, through a queue drained by a 1 ms timer, on the thread that started the service.
//
// Threads: the UI thread (the one that calls Initialize) constructs, starts, stops and destroys
// the object and runs OnTimer with every UI-delivered callback; 5 GET/POST workers and 5 download
// workers run jobs; any thread may submit, withdraw and run synchronous requests.
// Locks: httpLock, downloadLock and uiLock. A kind's lock may be held while taking uiLock, never
// the other way round, and the two kind locks are never held together. Callbacks delivered on a
// worker run under that worker's kind lock; nothing else calls out while holding a lock.
class NetRequest : public ILiveModule, public INetRequest {
public:
    NetRequest();
    ~NetRequest() override;  // stops first
    NetRequest(const NetRequest&) = delete;
    NetRequest& operator=(const NetRequest&) = delete;

    // ILiveModule
    bool Initialize() override;  // starts: workers and the UI timer on the calling thread
    const char* GetId() override { return "net_request"; }
    const wchar_t* GetName() override { return L"net_request_module"; }
    const char* GetVersion() override { return FactoryProductVersion(); }
    uint64_t GetServiceApiVersion() override { return kInterfaceVersion; }
    const char* GetText8() override { return ""; }
    void SetDisabled(bool) override {}
    bool IsDisabled() override { return false; }
    // Stops: on the thread that started. Afterwards no callback of an asynchronous request runs.
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
    void StopWorkers();
    void RequestWorkerLoop();
    void DownloadWorkerLoop();
    // One worker of a kind: takes jobs, runs them unlocked and delivers what was not withdrawn.
    template <class Job, class Execute>
    void RunWorker(std::list<Job>& queue, std::map<int32_t, Job>& active, std::condition_variable& wakeup,
                   std::mutex& lock, Execute execute);
    void PostToUiThread(NeUiTask task);
    void OnTimer();

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

    // Written on the UI thread by start and stop; read anywhere without a lock.
    std::atomic<bool> running{false};
    // Fixed at construction; read by GET/POST executions on any thread.
    const std::string userDevice;
    // UI thread only.
    platform::TimerId timerId = 0;

    // GET/POST kind, all guarded by httpLock: jobs waiting (first in, first out), jobs taken by a
    // worker and not finished, and the workers themselves (the list changes under the lock; the
    // threads are joined outside it).
    std::list<NeHttpReqInfo> httpQueue;
    std::map<int32_t, NeHttpReqInfo> httpActive;
    std::condition_variable httpWakeup;  // a job was queued, or the service stops
    std::mutex httpLock;
    std::list<std::thread> httpWorkers;

    // Download kind: the same five members, guarded by downloadLock.
    std::list<NeDownloadReqInfo> downloadQueue;
    std::map<int32_t, NeDownloadReqInfo> downloadActive;
    std::condition_variable downloadWakeup;
    std::mutex downloadLock;
    std::list<std::thread> downloadWorkers;

    // Guards uiTasks and uiBatch; taken after a kind's lock, never before one.
    std::mutex uiLock;
    // Tasks for the UI thread, first in, first out; the next tick takes all of them.
    std::list<NeUiTask> uiTasks;
    // The tasks the running tick took and has not begun yet. They stay in reach of withdrawals
    // (a callback of this tick may withdraw a later one); tasks posted meanwhile wait in uiTasks.
    std::list<NeUiTask> uiBatch;
};

}  // namespace LiveModule
