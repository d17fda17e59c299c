#include <algorithm>
#include <cstring>

#include "net_request/NetRequest.h"

// Record intake and the submission frame of the INetRequest operations.
namespace LiveModule {

namespace {

// The defaults, overwritten by as much of the caller's record as both layouts share: a caller
// built against a shorter record keeps the defaults of the fields it lacks.
template <class Record>
Record ReadRecord(const Record* request) {
    Record record;
    const size_t size = std::min<size_t>(record.structSize, request->structSize);
    std::memcpy(static_cast<void*>(&record), request, size);
    return record;
}

StringPairs CopyPairs(const stKeyValueList& list) {
    StringPairs pairs;
    for (int32_t i = 0; i < list.count; ++i) {
        const stKeyValue& item = list.items[i];
        if (item.key && item.value) pairs.emplace_back(item.key, item.value);
    }
    return pairs;
}

void CopyHead(const stRequestHead& head, NeReqInfo& job) {
    job.url = head.url;
    job.isAsync = head.isAsync;
    job.timeoutMs = head.timeoutMs;
    job.owner = head.owner;
    job.callbackOnUiThread = head.isAsync && head.callbackOnUiThread;
    job.userData = head.userData;
}

// The frame both kinds share: under the kind's lock, refuse while stopped, number the job and queue it
// when it is asynchronous (the workers of a start take it). Returns the id (-1 when refused);
// `runHere` says the caller runs it now.
template <class Job>
int32_t Admit(Job& job, std::mutex& lock, std::list<Job>& queue, std::condition_variable& wakeup,
              const std::atomic<bool>& running, bool& runHere) {
    runHere = false;
    std::lock_guard<std::mutex> guard(lock);
    if (!running) return -1;
    job.id = NetRequest::NextRequestId();
    const int32_t id = job.id;
    if (job.isAsync) {
        queue.push_back(std::move(job));
        wakeup.notify_one();
    } else {
        runHere = true;
    }
    return id;
}

}  // namespace

int32_t NetRequest::HttpGet(const stHttpRequest* request) {
    return SubmitHttp(request, true);
}

int32_t NetRequest::HttpPost(const stHttpRequest* request) {
    return SubmitHttp(request, false);
}

int32_t NetRequest::SubmitHttp(const stHttpRequest* request, bool isGet) {
    if (!request) return -1;
    const stHttpRequest record = ReadRecord(request);
    if (!record.head.url || !record.head.owner) return -1;
    NeHttpReqInfo job;
    CopyHead(record.head, job);
    job.isGet = isGet;
    if (record.headers.items) job.headers = CopyPairs(record.headers);
    if (record.queryParams.items) job.queryParams = CopyPairs(record.queryParams);
    if (record.formFields.items) job.formFields = CopyPairs(record.formFields);
    job.onResponse = record.onResponse;

    bool runHere = false;
    const int32_t id = Admit(job, httpLock, httpQueue, httpWakeup, running, runHere);
    if (!runHere) return id;
    NeResInfo result;
    std::string text;
    if (isGet) {
        DoGet(job, result, text);
    } else {
        DoPost(job, result, text);
    }
    if (job.onResponse) job.onResponse(MakeResponseInfo(result), text.c_str());
    return result.errorCode == kResultOk ? id : -1;
}

int32_t NetRequest::DownloadFile(const stDownloadRequest* request) {
    if (!request) return -1;
    const stDownloadRequest record = ReadRecord(request);
    if (!record.head.url || !record.head.owner || !record.savePath) return -1;
    NeDownloadReqInfo job;
    CopyHead(record.head, job);
    job.overwrite = record.overwrite;
    job.transferTimeoutSec = record.transferTimeoutSec;
    job.binaryMode = record.binaryMode;
    job.savePath = record.savePath;
    job.onResponse = record.onResponse;
    job.onProgress = record.onProgress;
    job.onByteProgress = record.onByteProgress;

    bool runHere = false;
    const int32_t id = Admit(job, downloadLock, downloadQueue, downloadWakeup, running, runHere);
    if (!runHere) return id;
    NeResInfo result;
    DoDownload(job, result);
    if (job.onResponse) job.onResponse(MakeResponseInfo(result), job.savePath.c_str());
    return result.errorCode == kResultOk ? id : -1;
}

int32_t NetRequest::UploadFile(const stUploadRequest* request) {
    // Checked like every record, but there is no upload worker: always refused, never called back.
    if (!request) return -1;
    const stUploadRequest record = ReadRecord(request);
    if (!record.head.url || !record.head.owner || !record.filePath) return -1;
    return -1;
}

}  // namespace LiveModule
