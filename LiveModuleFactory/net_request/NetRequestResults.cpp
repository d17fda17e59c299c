#include "net_request/NetRequest.h"

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
    std::lock_guard<std::mutex> guard(downloadLock);
    const auto entry = downloadActive.find(job.id);
    if (entry == downloadActive.end()) return false;  // withdrawn or stopped: abort the transfer
    const NeDownloadReqInfo& active = entry->second;
    if (active.callbackOnUiThread) {
        // The tasks copy this moment's values.
        if (active.onProgress) {
            PostToUiThread(NeUiTask{active.id, active.owner,
                                    [callback = active.onProgress, id = active.id, fraction, userData = active.userData] {
                                        InvokeProgressCallback(callback, id, fraction, userData);
                                    }});
        }
        if (active.onByteProgress) {
            PostToUiThread(NeUiTask{active.id, active.owner,
                                    [callback = active.onByteProgress, id = active.id, received, total,
                                     userData = active.userData] {
                                        InvokeByteProgressCallback(callback, id, received, total, userData);
                                    }});
        }
    } else {
        // Under the lock, like every worker delivery.
        if (active.onProgress) active.onProgress(active.id, fraction, active.userData);
        if (active.onByteProgress) active.onByteProgress(active.id, received, total, active.userData);
    }
    return true;
}

}  // namespace LiveModule
