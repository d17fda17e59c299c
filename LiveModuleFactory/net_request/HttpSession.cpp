#include "net_request/HttpSession.h"

#include <curl/curl.h>

#include <mutex>
#include <strings.h>

namespace LiveModule {

namespace {

CURL* Handle(void* curl) {
    return static_cast<CURL*>(curl);
}

// The answer of a session whose handle could not be made.
HttpResponse NoHandle() {
    HttpResponse response;
    response.error = TransferErrorNumber(CURLE_FAILED_INIT);
    return response;
}

// Asked by libcurl during transfers; data is the session's abort check.
int OnTransferInfo(void* keepGoing, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return (*static_cast<std::function<bool()>*>(keepGoing))() ? 0 : 1;
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

HttpSession::HttpSession() {
    InitializeLibrary();
    curl = curl_easy_init();
    if (!curl) return;
    curl_easy_setopt(Handle(curl), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(Handle(curl), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(Handle(curl), CURLOPT_MAXREDIRS, 50L);
    curl_easy_setopt(Handle(curl), CURLOPT_WRITEFUNCTION, &HttpSession::OnWrite);
    curl_easy_setopt(Handle(curl), CURLOPT_WRITEDATA, this);
}

HttpSession::~HttpSession() {
    if (curl) curl_easy_cleanup(Handle(curl));
    curl_slist_free_all(headerList);
}

void HttpSession::SetUrl(const std::string& url) {
    if (curl) curl_easy_setopt(Handle(curl), CURLOPT_URL, url.c_str());  // libcurl copies it
}

void HttpSession::SetHeader(const std::string& name, const std::string& value) {
    headers[name] = value;
}

void HttpSession::SetTimeoutMs(int64_t milliseconds) {
    if (curl) curl_easy_setopt(Handle(curl), CURLOPT_TIMEOUT_MS, static_cast<long>(milliseconds));
}

void HttpSession::SetConnectTimeoutMs(int64_t milliseconds) {
    if (curl) curl_easy_setopt(Handle(curl), CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(milliseconds));
}

void HttpSession::SetVerifySsl(bool verify) {
    if (!curl) return;
    curl_easy_setopt(Handle(curl), CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
    curl_easy_setopt(Handle(curl), CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
}

void HttpSession::SetTlsTrust(bool verify, const std::string& caBundle) {
    SetVerifySsl(verify);
    if (curl && verify && !caBundle.empty()) curl_easy_setopt(Handle(curl), CURLOPT_CAINFO, caBundle.c_str());
}

void HttpSession::SetBody(const std::string& text) {
    if (!curl) return;
    curl_easy_setopt(Handle(curl), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(text.size()));
    curl_easy_setopt(Handle(curl), CURLOPT_COPYPOSTFIELDS, text.c_str());
}

void HttpSession::SetAbortCheck(std::function<bool()> check) {
    keepGoing = std::move(check);
    if (!curl) return;
    curl_easy_setopt(Handle(curl), CURLOPT_XFERINFOFUNCTION, &OnTransferInfo);
    curl_easy_setopt(Handle(curl), CURLOPT_XFERINFODATA, &keepGoing);
    curl_easy_setopt(Handle(curl), CURLOPT_NOPROGRESS, 0L);
}

void HttpSession::ApplyHeaders() {
    curl_slist_free_all(headerList);
    headerList = nullptr;
    for (const auto& [name, value] : headers) {
        // "Name;" is how libcurl is told to send a header with an empty value.
        const std::string line = value.empty() ? name + ";" : name + ": " + value;
        headerList = curl_slist_append(headerList, line.c_str());
    }
    curl_easy_setopt(Handle(curl), CURLOPT_HTTPHEADER, headerList);
}

HttpResponse HttpSession::Get() {
    if (!curl) return NoHandle();
    curl_easy_setopt(Handle(curl), CURLOPT_HTTPGET, 1L);
    return Perform(nullptr);
}

HttpResponse HttpSession::Post() {
    if (!curl) return NoHandle();
    curl_easy_setopt(Handle(curl), CURLOPT_POST, 1L);
    return Perform(nullptr);
}

int64_t HttpSession::GetDownloadFileLength() {
    if (!curl) return -1;
    curl_easy_setopt(Handle(curl), CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(Handle(curl), CURLOPT_NOBODY, 1L);
    const HttpResponse response = Perform(nullptr);
    curl_off_t length = -1;
    if (response.error == 0 && response.status == 200) {
        curl_easy_getinfo(Handle(curl), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    }
    // Back to a GET with a body for the download that follows.
    curl_easy_setopt(Handle(curl), CURLOPT_NOBODY, 0L);
    curl_easy_setopt(Handle(curl), CURLOPT_HTTPGET, 1L);
    return length;
}

HttpResponse HttpSession::Download(const std::function<bool(const char*, size_t)>& write) {
    if (!curl) return NoHandle();
    curl_easy_setopt(Handle(curl), CURLOPT_HTTPGET, 1L);
    return Perform(&write);
}

HttpResponse HttpSession::Perform(const std::function<bool(const char*, size_t)>* write) {
    ApplyHeaders();
    writer = write;
    body.clear();
    const CURLcode result = curl_easy_perform(Handle(curl));
    writer = nullptr;
    HttpResponse response;
    curl_easy_getinfo(Handle(curl), CURLINFO_RESPONSE_CODE, &response.status);
    response.error = TransferErrorNumber(result);
    response.body.swap(body);
    return response;
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
