#include "net_request/HttpSession.h"

#include <curl/curl.h>

#include <algorithm>
#include <mutex>
#include <strings.h>

namespace LiveModule {

namespace {

// The longest a transfer sleeps before it asks its abort check again, when nothing wakes it.
constexpr int kPollLimitMs = 1000;

// Receive buffer of downloads: fewer receive calls for a fast transfer.
constexpr long kDownloadBuffer = 512L << 10;

// The answer of a session whose handle could not be made.
HttpResponse NoHandle() {
    HttpResponse response;
    response.error = TransferErrorNumber(CURLE_FAILED_INIT);
    return response;
}

// What every request says it is: the user agent of the curl program of the libcurl in use.
const std::string& UserAgent() {
    static const std::string agent = std::string("curl/") + curl_version_info(CURLVERSION_NOW)->version;
    return agent;
}

}  // namespace

bool HttpSession::CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
}

void HttpSession::InitializeLibrary() {
    // Never cleaned up: sessions may run until the process ends.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

HttpSession::HttpSession(HandlePool& pool) : pool(pool) {
    InitializeLibrary();
    transfer = pool.Borrow();
    if (!transfer->Usable()) return;
    curl = transfer->easy;
    curl_easy_reset(curl);  // keeps the connections and caches, forgets every option
    curl_easy_setopt(curl, CURLOPT_SHARE, transfer->share);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, UserAgent().c_str());
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 50L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &HttpSession::OnWrite);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
}

HttpSession::~HttpSession() {
    // The list is freed only once the handle no longer points at it.
    if (curl) curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headerList);
    pool.Return(std::move(transfer));
}

void HttpSession::SetUrl(const std::string& url) {
    if (curl) curl_easy_setopt(curl, CURLOPT_URL, url.c_str());  // libcurl copies it
}

void HttpSession::SetHeader(const std::string& name, const std::string& value) {
    headers[name] = value;
}

void HttpSession::SetTimeoutMs(int64_t milliseconds) {
    if (curl) curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(milliseconds));
}

void HttpSession::SetConnectTimeoutMs(int64_t milliseconds) {
    if (curl) curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(milliseconds));
}

void HttpSession::SetVerifySsl(bool verify) {
    if (!curl) return;
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
}

void HttpSession::SetTlsTrust(bool verify, const std::string& caBundle) {
    SetVerifySsl(verify);
    if (curl && verify && !caBundle.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caBundle.c_str());
}

void HttpSession::SetBody(const std::string& text) {
    if (!curl) return;
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(text.size()));
    curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, text.c_str());
}

void HttpSession::SetAbortCheck(std::function<bool()> check) {
    keepGoing = std::move(check);
}

void HttpSession::SetWaitLimit(std::function<int()> limitMs) {
    waitLimit = std::move(limitMs);
}

void HttpSession::ApplyHeaders() {
    curl_slist_free_all(headerList);
    headerList = nullptr;
    for (const auto& [name, value] : headers) {
        // "Name;" is how libcurl is told to send a header with an empty value.
        const std::string line = value.empty() ? name + ";" : name + ": " + value;
        headerList = curl_slist_append(headerList, line.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headerList);
}

HttpResponse HttpSession::Get() {
    if (!curl) return NoHandle();
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    return Perform(nullptr);
}

HttpResponse HttpSession::Post() {
    if (!curl) return NoHandle();
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    return Perform(nullptr);
}

int64_t HttpSession::GetDownloadFileLength() {
    if (!curl) return -1;
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    const HttpResponse response = Perform(nullptr);
    curl_off_t length = -1;
    if (response.error == 0 && response.status == 200) {
        curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    }
    // Back to a GET with a body for the download that follows.
    curl_easy_setopt(curl, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    return length;
}

HttpResponse HttpSession::Download(const std::function<bool(const char*, size_t)>& write) {
    if (!curl) return NoHandle();
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kDownloadBuffer);
    return Perform(&write);
}

HttpResponse HttpSession::Perform(const std::function<bool(const char*, size_t)>* write) {
    ApplyHeaders();
    writer = write;
    body.clear();
    const CURLcode result = Drive();
    writer = nullptr;
    HttpResponse response;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
    response.error = TransferErrorNumber(result);
    response.body.swap(body);
    return response;
}

CURLcode HttpSession::Drive() {
    CURLM* multi = transfer->multi;
    if (curl_multi_add_handle(multi, curl) != CURLM_OK) return CURLE_FAILED_INIT;
    CURLcode result = CURLE_OK;
    for (bool done = false; !done;) {
        int active = 0;
        if (curl_multi_perform(multi, &active) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg == CURLMSG_DONE) {
                result = message->data.result;
                done = true;
            }
        }
        if (done) break;
        if (keepGoing && !keepGoing()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        const int limit = waitLimit ? std::clamp(waitLimit(), 0, kPollLimitMs) : kPollLimitMs;
        curl_multi_poll(multi, nullptr, 0, limit, nullptr);
    }
    // Removing an unfinished transfer closes its connection; a finished one stays for reuse.
    curl_multi_remove_handle(multi, curl);
    return result;
}

size_t HttpSession::OnWrite(char* data, size_t size, size_t count, void* context) {
    auto* session = static_cast<HttpSession*>(context);
    const size_t bytes = size * count;
    if (!session->writer) {
        session->body.append(data, bytes);
        return bytes;
    }
    // Anything but the full count makes libcurl stop with CURLE_WRITE_ERROR.
    return (*session->writer)(data, bytes) ? bytes : 0;
}

int TransferErrorNumber(int curlCode) {
    switch (static_cast<CURLcode>(curlCode)) {
        case CURLE_OK: return 0;
        case CURLE_COULDNT_CONNECT: return 1;
        case CURLE_GOT_NOTHING: return 2;
        case CURLE_COULDNT_RESOLVE_HOST: return 3;
        case CURLE_URL_MALFORMAT: return 5;
        case CURLE_RECV_ERROR: return 6;
        case CURLE_SEND_ERROR: return 7;
        case CURLE_OPERATION_TIMEDOUT: return 8;
        case CURLE_COULDNT_RESOLVE_PROXY: return 9;
        case CURLE_SSL_CONNECT_ERROR: return 10;
        case CURLE_SSL_CERTPROBLEM: return 11;
        case CURLE_PEER_FAILED_VERIFICATION: return 12;
        // CURLE_SSL_CACERT is the same number as CURLE_PEER_FAILED_VERIFICATION in this libcurl.
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR: return 13;
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_CIPHER:
        case CURLE_USE_SSL_FAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_SHUTDOWN_FAILED: return 14;
        case CURLE_UNSUPPORTED_PROTOCOL: return 15;
        case CURLE_ABORTED_BY_CALLBACK:
        case CURLE_WRITE_ERROR: return 16;
        case CURLE_TOO_MANY_REDIRECTS: return 17;
        default: return 4;
    }
}

}  // namespace LiveModule
