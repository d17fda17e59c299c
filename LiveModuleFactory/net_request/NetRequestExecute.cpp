#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "FileUtils.h"
#include "TextConversion.h"
#include "TrustSettings.h"
#include "net_request/HttpSession.h"
#include "net_request/NetRequest.h"
#include "net_request/RequestEncoding.h"
#include "platform/FileSystem.h"
#include "platform/PathStyle.h"

// How one GET, POST or download runs, on a worker or on the caller's thread. Nothing here holds a
// lock; a download's progress step takes the download lock for itself.
namespace LiveModule {

namespace {

constexpr int kRenameAttempts = 101;
constexpr auto kRenamePause = std::chrono::milliseconds(20);

std::string ParentDirectory(const std::string& path) {
    const size_t slash = path.find_last_of(platform::kPathSeparators);
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Closes the file on every way out of a download.
struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

// Certificate checks are the deployment's choice, made apart for the updater (whose requests carry
// the service itself as their owner) and for modules.
void ApplyTrust(HttpSession& session, const NeReqInfo& job, const INetRequest* service) {
    const TrustSettings& trust = BuiltTrustSettings();
    const bool updater = job.owner == static_cast<const void*>(service);
    session.SetTlsTrust(updater ? trust.verifyUpdaterTls : trust.verifyModuleTls, trust.caBundle);
}

}  // namespace

void NetRequest::DoGet(const NeHttpReqInfo& job, NeResInfo& result, std::string& text) {
    DoHttp(job, result, text);
}

void NetRequest::DoPost(const NeHttpReqInfo& job, NeResInfo& result, std::string& text) {
    DoHttp(job, result, text);
}

void NetRequest::DoHttp(const NeHttpReqInfo& job, NeResInfo& result, std::string& text) {
    result = PrepareResult(job);
    HttpSession session(pool);
    session.SetUrl(BuildUrl(job.url, job.queryParams));
    // The caller's headers come last, so they may replace any of these.
    if (!job.isGet) session.SetHeader("Content-Type", "application/x-www-form-urlencoded");
    session.SetHeader("User-Device", userDevice);
    for (const auto& [name, value] : job.headers) session.SetHeader(name, value);
    session.SetTimeoutMs(job.timeoutMs);
    ApplyTrust(session, job, this);
    if (!job.isGet) session.SetBody(BuildFormBody(job.formFields));
    // A stop ends the request at once, even one waiting for a server that never answers.
    session.SetAbortCheck([this] { return running.load(); });

    HttpResponse response = job.isGet ? session.Get() : session.Post();
    if (CheckResponse(result, response.status)) {
        text.swap(response.body);
    } else {
        text.clear();
    }
}

void NetRequest::DoDownload(const NeDownloadReqInfo& job, NeResInfo& result) {
    result = PrepareResult(job);
    const std::string target = Utf8ToAnsi(job.savePath);
    if (PathExists(target)) {
        if (!job.overwrite) return SetFailure(result, kResultFileExists, kMessageFileExists);
        if (!platform::RemoveFile(target)) return SetFailure(result, kResultFileError, kMessageFileCreate);
    }
    const std::string temporary = target + ".download";
    if (PathExists(temporary) && !platform::RemoveFile(temporary)) {
        return SetFailure(result, kResultFileError, kMessageFileCreate);
    }
    const std::string parent = ParentDirectory(target);
    if (!parent.empty() && !PathExists(parent) && !CreateDir(parent)) {
        return SetFailure(result, kResultFileError, kMessageFolderCreate);
    }
    // Text mode ("w+") translates line ends on Windows; here both modes write bytes unchanged.
    std::unique_ptr<FILE, FileCloser> file(std::fopen(temporary.c_str(), job.binaryMode ? "wb+" : "w+"));
    if (!file) return SetFailure(result, kResultFileError, kMessageFileOpen);

    HttpSession session(pool);
    ApplyTrust(session, job, this);
    session.SetUrl(job.url);
    session.SetConnectTimeoutMs(job.timeoutMs);
    session.SetTimeoutMs(static_cast<int64_t>(job.transferTimeoutSec) * 1000);
    // A stop ends a transfer that stalls between chunks at once, not only at the next chunk; and a
    // stall never holds back the progress reports already queued beyond their short delay.
    session.SetAbortCheck([this] {
        WakeForDueReports();
        return running.load();
    });
    session.SetWaitLimit([this] { return ReportsDueInMs(); });

    const int64_t total = session.GetDownloadFileLength();
    if (total == 0) return SetFailure(result, kResultFailed, kMessageEmptyDownload);
    int64_t received = 0;
    const HttpResponse response = session.Download([&](const char* data, size_t size) {
        // Every chunk is on disk before it is reported; a short write ends the transfer.
        if (std::fwrite(data, 1, size, file.get()) != size || std::fflush(file.get()) != 0) return false;
        received += static_cast<int64_t>(size);
        return OnDownloadProgress(job, received, total);
    });
    file.reset();
    WakeForDueReports(true);  // its last reports may have no result behind them to wake the UI thread
    if (response.error != 0) {
        // The temporary file stays; the next download to the same target removes it.
        result.errorCode = response.error == kTransferTimedOut ? kResultTimedOut : kResultFailed;
        result.errorMsg = ErrorCodeName(response.error);
        return;
    }
    // The target may be held open briefly by someone else (a scanner on Windows): retry a while.
    for (int attempt = 1; running; ++attempt) {
        if (std::rename(temporary.c_str(), target.c_str()) == 0 || attempt == kRenameAttempts) break;
        std::this_thread::sleep_for(kRenamePause);
    }
    result.errorCode = kResultOk;
}

}  // namespace LiveModule
