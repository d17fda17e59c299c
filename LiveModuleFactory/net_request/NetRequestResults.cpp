#include "net_request/NetRequest.h"

#include <functional>

// Delivery of results and download progress.
namespace LiveModule {

void NetRequest::InvokeResponseCallback(ResponseCallback callback, const NeResInfo& result, const std::string& text) {
    if (!callback || result.id < 0) return;
    const stResponseInfo info = MakeResponseInfo(result);
    callback(info, text.c_str());
}

void NetRequest::InvokeProgressCallback(ProgressCallback callback, int32_t id, double fraction, void* userData) {
    if (callback && id >= 0) callback(id, fraction, userData);
}

void NetRequest::InvokeByteProgressCallback(ByteProgressCallback callback, int32_t id, int64_t received,
                                            int64_t total, void* userData) {
    if (callback && id >= 0) callback(id, received, total, userData);
}

bool NetRequest::OnDownloadProgress(const NeDownloadReqInfo& job, int64_t received, int64_t total) {
    if (!running) return false;
    // With no announced length (-1) this is the negative received count.
    const double fraction = static_cast<double>(received) * 1.0 / static_cast<double>(total);
    if (!job.isAsync) {
        if (job.onProgress) job.onProgress(job.id, fraction, job.userData);
        if (job.onByteProgress) job.onByteProgress(job.id, received, total, job.userData);
        return true;
    }
    std::unique_lock<std::mutex> guard(downloadLock);
    if (downloadActive.count(job.id) == 0) return false;  // withdrawn or stopped: abort the transfer
    if (job.callbackOnUiThread) {
        // The tasks copy this moment's values.
        if (job.onProgress) {
            PostToUiThread(NeUiTask{job.id, job.owner,
                                    [callback = job.onProgress, id = job.id, fraction, userData = job.userData] {
                                        InvokeProgressCallback(callback, id, fraction, userData);
                                    }},
                           true);
        }
        if (job.onByteProgress) {
            PostToUiThread(NeUiTask{job.id, job.owner,
                                    [callback = job.onByteProgress, id = job.id, received, total,
                                     userData = job.userData] {
                                        InvokeByteProgressCallback(callback, id, received, total, userData);
                                    }},
                           true);
        }
        return true;
    }
    // On this worker, with no lock held; each report first makes sure the request is still wanted,
    // since the one before may have withdrawn it.
    const auto report = [&](const std::function<void()>& call) {
        if (!guard.owns_lock()) guard.lock();
        if (!running || downloadActive.count(job.id) == 0) return false;
        tracker.Begin(job.id, job.owner);
        guard.unlock();
        call();
        tracker.End();
        return true;
    };
    if (job.onProgress && !report([&] { job.onProgress(job.id, fraction, job.userData); })) return false;
    if (job.onByteProgress && !report([&] { job.onByteProgress(job.id, received, total, job.userData); })) return false;
    if (!guard.owns_lock()) guard.lock();
    return running && downloadActive.count(job.id) != 0;
}

}  // namespace LiveModule
