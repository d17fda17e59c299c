#include "net_request/RequestClient.h"

#include <algorithm>
#include <climits>

namespace LiveModule {

namespace {

constexpr int32_t kNoService = -1001;

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Items pointing at the strings of `pairs`, which must outlive the submission.
std::vector<stKeyValue> ToItems(const Pairs& pairs) {
    std::vector<stKeyValue> items(pairs.size());
    for (size_t i = 0; i < pairs.size(); ++i) {
        items[i].key = pairs[i].first.c_str();
        items[i].value = pairs[i].second.c_str();
    }
    return items;
}

stKeyValueList ToList(const std::vector<stKeyValue>& items) {
    stKeyValueList list;
    if (!items.empty()) {
        list.count = static_cast<int32_t>(items.size());
        list.items = items.data();
    }
    return list;
}

void FillHead(stRequestHead& head, const std::string& url, int32_t timeoutMs, bool isAsync, bool onUiThread,
              void* owner) {
    head.url = url.c_str();
    head.timeoutMs = timeoutMs;
    head.isAsync = isAsync;
    head.owner = owner;
    head.callbackOnUiThread = onUiThread;
}

template <class Result>
Result ToResult(const stResponseInfo& info) {
    Result result;
    result.id = info.id;
    result.errorCode = info.errorCode;
    result.isAsync = info.isAsync;
    result.url = info.url ? info.url : "";
    result.errorMsg = info.errorMsg ? info.errorMsg : "";
    return result;
}

}  // namespace

RequestClient::RequestClient(INetRequest* net, void* owner) : net(net), owner(owner) {}

RequestClient::~RequestClient() {
    CancelAll();
}

int32_t RequestClient::Get(const HttpRequestParams& params) {
    return SubmitHttp(params, &INetRequest::HttpGet);
}

int32_t RequestClient::Post(const HttpRequestParams& params) {
    return SubmitHttp(params, &INetRequest::HttpPost);
}

int32_t RequestClient::SubmitHttp(const HttpRequestParams& params,
                                  int32_t (INetRequest::*operation)(const stHttpRequest*)) {
    if (!net) return kNoService;
    const std::vector<stKeyValue> headers = ToItems(params.headers);
    const std::vector<stKeyValue> queryParams = ToItems(params.queryParams);
    const std::vector<stKeyValue> formFields = ToItems(params.formFields);
    stHttpRequest record;
    FillHead(record.head, params.url, params.timeoutMs, params.isAsync, params.callbackOnUiThread, owner);
    record.headers = ToList(headers);
    record.queryParams = ToList(queryParams);
    record.formFields = ToList(formFields);
    record.onResponse = &RequestClient::OnHttpResponse;

    auto context = std::make_unique<RequestContext>();
    context->client = this;
    context->onFinished = params.onFinished;
    return Submit(record, std::move(context), params.isAsync, operation);
}

// Downloads and uploads share their callbacks: the record gets the client's, the context the caller's.
template <class Record, class Params>
std::unique_ptr<RequestContext> RequestClient::FileContext(Record& record, const Params& params) {
    record.onResponse = &RequestClient::OnFileResponse;
    record.onProgress = &RequestClient::OnProgressReport;
    record.onByteProgress = &RequestClient::OnByteProgressReport;
    auto context = std::make_unique<RequestContext>();
    context->client = this;
    context->onFileFinished = params.onFinished;
    context->onProgress = params.onProgress;
    context->onByteProgress = params.onByteProgress;
    return context;
}

int32_t RequestClient::Download(const DownloadRequestParams& params) {
    if (!net) return kNoService;
    stDownloadRequest record;
    FillHead(record.head, params.url, params.timeoutMs, params.isAsync, params.callbackOnUiThread, owner);
    record.overwrite = params.overwrite;
    record.transferTimeoutSec = params.transferTimeoutSec;
    record.binaryMode = params.binaryMode;
    record.savePath = params.savePath.c_str();
    return Submit(record, FileContext(record, params), params.isAsync, &INetRequest::DownloadFile);
}

int32_t RequestClient::Upload(const UploadRequestParams& params) {
    if (!net) return kNoService;
    stUploadRequest record;
    FillHead(record.head, params.url, params.timeoutMs, params.isAsync, params.callbackOnUiThread, owner);
    record.filePath = params.filePath.c_str();
    record.transferTimeoutSec = params.transferTimeoutSec;
    record.reserved = params.reserved;
    return Submit(record, FileContext(record, params), params.isAsync, &INetRequest::UploadFile);
}

template <class Record>
int32_t RequestClient::Submit(Record& record, std::unique_ptr<RequestContext> context, bool isAsync,
                              int32_t (INetRequest::*operation)(const Record*)) {
    RequestContext* const submitted = context.get();
    int32_t key;
    {
        std::lock_guard<std::mutex> guard(lock);
        key = nextProvisionalKey;
        nextProvisionalKey = key == INT_MIN ? -2 : key - 1;
        submitted->provisionalKey = key;
        pending.emplace(key, std::move(context));
    }
    record.head.userData = submitted;

    const int32_t result = (net->*operation)(&record);

    std::shared_ptr<RequestContext> unused;  // dropped after the lock is released
    std::lock_guard<std::mutex> guard(lock);
    const auto entry = pending.find(key);
    // Absent when the final callback has already run (synchronous requests always, worker
    // deliveries sometimes).
    if (entry == pending.end()) return result;
    if (result > 0 && isAsync) {
        pending.emplace(result, std::move(entry->second));
    } else {
        unused = std::move(entry->second);  // refused: the service never calls back
    }
    pending.erase(entry);
    return result;
}

RequestClient::Pending::iterator RequestClient::Find(int32_t id, const RequestContext* context) {
    // Compared by address only: a context that is not found may be gone already.
    const auto entry = pending.find(id);
    if (entry != pending.end() && entry->second.get() == context) return entry;
    return std::find_if(pending.begin(), pending.end(),
                        [context](const Pending::value_type& held) { return held.second.get() == context; });
}

std::shared_ptr<RequestContext> RequestClient::Hold(int32_t id, const RequestContext* context, bool finish) {
    std::lock_guard<std::mutex> guard(lock);
    const auto entry = Find(id, context);
    if (entry == pending.end()) return nullptr;
    std::shared_ptr<RequestContext> held = entry->second;
    if (finish) pending.erase(entry);
    return held;
}

void RequestClient::Cancel(int32_t id) {
    if (!net) return;
    net->CancelRequest(id);
    if (id <= 0) return;  // provisional keys belong to submissions under way
    std::shared_ptr<RequestContext> withdrawn;  // dropped after the lock; a running callback keeps its share
    std::lock_guard<std::mutex> guard(lock);
    const auto entry = pending.find(id);
    if (entry == pending.end()) return;
    withdrawn = std::move(entry->second);
    pending.erase(entry);
}

void RequestClient::CancelAll() {
    if (!net) return;
    // Only contexts whose ids were known before the withdrawal began are sure to be withdrawn:
    // take them first. A submission under way keeps its context; should its request have been
    // withdrawn too, the context waits here for the next CancelAll or the destructor.
    Pending withdrawn;
    {
        std::lock_guard<std::mutex> guard(lock);
        for (auto entry = pending.begin(); entry != pending.end();) {
            if (entry->first > 0) {
                withdrawn.insert(pending.extract(entry++));
            } else {
                ++entry;
            }
        }
    }
    // A callback that comes meanwhile finds no context and does nothing; the contexts are dropped
    // once the service guarantees that none of their callbacks starts any more.
    net->CancelOwnerRequests(owner);
}

// A final result: the context is claimed (and dropped at the end), the result built with the
// callback's text in `textField`, and the caller's function for that kind of result called.
template <class Result>
void RequestClient::Finish(const stResponseInfo& info, const char* text, std::string Result::*textField,
                           std::function<void(const Result&)> RequestContext::*onResult) {
    auto* context = static_cast<RequestContext*>(info.userData);
    if (!context) return;
    const std::shared_ptr<RequestContext> claimed = context->client->Hold(info.id, context, true);
    if (!claimed) return;
    Result result = ToResult<Result>(info);
    result.*textField = text ? text : "";
    if ((*claimed).*onResult) ((*claimed).*onResult)(result);
}

void RequestClient::OnHttpResponse(const stResponseInfo& info, const char* text) {
    Finish(info, text, &RequestFinishedRes::body, &RequestContext::onFinished);
}

void RequestClient::OnFileResponse(const stResponseInfo& info, const char* text) {
    Finish(info, text, &FileOperationRes::path, &RequestContext::onFileFinished);
}

void RequestClient::OnProgressReport(int id, double fraction, void* userData) {
    auto* context = static_cast<RequestContext*>(userData);
    if (!context) return;
    const std::shared_ptr<RequestContext> held = context->client->Hold(id, context, false);
    if (held && held->onProgress) held->onProgress(id, fraction);
}

void RequestClient::OnByteProgressReport(int id, long long received, long long total, void* userData) {
    auto* context = static_cast<RequestContext*>(userData);
    if (!context) return;
    const std::shared_ptr<RequestContext> held = context->client->Hold(id, context, false);
    if (held && held->onByteProgress) held->onByteProgress(id, received, total);
}

}  // namespace LiveModule
