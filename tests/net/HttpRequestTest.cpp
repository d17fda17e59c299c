#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "DeviceIdentity.h"
#include "NetTestSupport.h"
#include "TempFolder.h"
#include "TextConversion.h"
#include "net_request/NetRequest.h"

using namespace LiveModule;
using namespace nettest;

namespace {

// What the server saw of one request.
struct Seen {
    std::string target, body;
    httplib::Headers headers;
};

// Serves `path` for GET and POST, remembering every request.
void Remember(LocalServer& server, const std::string& path, std::mutex& lock, std::vector<Seen>& seen) {
    const auto handler = [&](const httplib::Request& request, httplib::Response& response) {
        std::lock_guard<std::mutex> guard(lock);
        seen.push_back({request.target, request.body, request.headers});
        response.set_content("ok", "text/plain");
    };
    server.http().Get(path, handler);
    server.http().Post(path, handler);
}

// Runs a GET or POST on this thread; returns what the submission returned.
int32_t RunHere(NetRequest& net, stHttpRequest request, bool post = false) {
    request.head.isAsync = false;
    return post ? net.HttpPost(&request) : net.HttpGet(&request);
}

}  // namespace

TEST(NetHttp, UserDeviceGoesFirstAndCallersHeadersReplaceAnyNameWhateverItsCase) {
    LocalServer server;
    std::mutex lock;
    std::vector<Seen> seen;
    Remember(server, "/h", lock, seen);
    server.Start();
    NetRequest net;
    net.Initialize();
    Recorder recorder;

    EXPECT_GT(RunHere(net, HttpRequest(server.Url("/h"), recorder)), 0);
    stKeyValue replacing[] = {{"user-device", "mine"}, {"X-Extra", "1"}, {"x-EXTRA", "2"}};
    stHttpRequest custom = HttpRequest(server.Url("/h"), recorder);
    custom.headers = {3, replacing};
    EXPECT_GT(RunHere(net, custom), 0);
    stKeyValue type[] = {{"CONTENT-TYPE", "text/plain"}};
    stHttpRequest typed = HttpRequest(server.Url("/h"), recorder);
    typed.headers = {1, type};
    EXPECT_GT(RunHere(net, typed, true), 0);
    EXPECT_GT(RunHere(net, HttpRequest(server.Url("/h"), recorder), true), 0);

    ASSERT_EQ(seen.size(), 4u);
    const auto one = [](const httplib::Headers& headers, const char* name) {
        return headers.count(name) == 1 ? headers.find(name)->second : "<" + std::to_string(headers.count(name)) + ">";
    };
    EXPECT_EQ(one(seen[0].headers, "User-Device"), MakeUserDevice());
    EXPECT_EQ(one(seen[1].headers, "User-Device"), "mine");
    EXPECT_EQ(one(seen[1].headers, "X-Extra"), "2");
    EXPECT_EQ(one(seen[2].headers, "Content-Type"), "text/plain");
    EXPECT_EQ(one(seen[2].headers, "User-Device"), MakeUserDevice());
    EXPECT_EQ(one(seen[3].headers, "Content-Type"), "application/x-www-form-urlencoded");
}

TEST(NetHttp, QueryAndFormTextReachTheServerEncoded) {
    LocalServer server;
    std::mutex lock;
    std::vector<Seen> seen;
    Remember(server, "/q", lock, seen);
    server.Start();
    NetRequest net;
    net.Initialize();
    Recorder recorder;

    stKeyValue query[] = {{"a", "1 2"}, {"b", "x&y/\xC3\xBC~"}, {"skipped", nullptr}, {nullptr, "v"}, {"k", "-_."}};
    stHttpRequest get = HttpRequest(server.Url("/q"), recorder);
    get.queryParams = {5, query};
    EXPECT_GT(RunHere(net, get), 0);
    stHttpRequest none = HttpRequest(server.Url("/q"), recorder);
    none.queryParams = {-1, query};
    EXPECT_GT(RunHere(net, none), 0);
    stKeyValue form[] = {{"name", "a b+c"}, {"k", "\xC3\xBC~"}};
    stHttpRequest post = HttpRequest(server.Url("/q"), recorder);
    post.formFields = {2, form};
    post.queryParams = {1, query};
    EXPECT_GT(RunHere(net, post, true), 0);
    EXPECT_GT(RunHere(net, HttpRequest(server.Url("/q"), recorder), true), 0);

    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].target, "/q?a=1+2&b=x%26y%2F%C3%BC%7E&k=%2D%5F%2E");
    EXPECT_EQ(seen[1].target, "/q");
    EXPECT_EQ(seen[2].target, "/q?a=1+2");
    EXPECT_EQ(seen[2].body, "name=a+b%2Bc&k=%C3%BC~");
    EXPECT_EQ(seen[3].body, "");
    EXPECT_EQ(seen[3].headers.find("Content-Length")->second, "0");
    EXPECT_EQ(seen[3].headers.find("Content-Type")->second, "application/x-www-form-urlencoded");
    // Results name the URL as submitted, without the query.
    EXPECT_EQ(recorder.Events()[0].url, server.Url("/q"));
}

TEST(NetHttp, StatusDecidesCodeMessageAndText) {
    LocalServer server;
    server.http().Get("/redirect", [](const httplib::Request&, httplib::Response& response) {
        response.set_redirect("/final");
    });
    const auto answer = [&](const char* path, int status, const char* body) {
        server.http().Get(path, [=](const httplib::Request&, httplib::Response& response) {
            response.status = status;
            response.set_content(body, "text/plain");
        });
    };
    answer("/final", 200, "final body");
    answer("/s399", 399, "edge");
    answer("/s400", 400, "bad");
    answer("/s404", 404, "missing");
    server.http().Get("/stall", [&](const httplib::Request&, httplib::Response& response) {
        server.gate.Pass();
        response.set_content("late", "text/plain");
    });
    server.Start();
    NetRequest net;
    net.Initialize();
    Recorder recorder;
    const auto run = [&](const std::string& url, int32_t timeoutMs = 3000) {
        stHttpRequest request = HttpRequest(url, recorder);
        request.head.timeoutMs = timeoutMs;
        const int32_t id = RunHere(net, request);
        return std::make_pair(id, recorder.Events().back());
    };
    const std::string failed = WideToChs(L"服务器返回异常，错误码: ");

    auto [id, result] = run(server.Url("/redirect"));
    EXPECT_EQ(id, result.id);
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.text, "final body");
    EXPECT_EQ(result.url, server.Url("/redirect"));
    EXPECT_EQ(result.thread, std::this_thread::get_id());
    std::tie(id, result) = run(server.Url("/s399"));
    EXPECT_GT(id, 0);
    EXPECT_EQ(result.text, "edge");
    std::tie(id, result) = run(server.Url("/s400"));
    EXPECT_EQ(id, -1);
    EXPECT_EQ(result.code, -1001);
    EXPECT_EQ(result.message, failed + "400");
    EXPECT_EQ(result.text, "");
    std::tie(id, result) = run(server.Url("/s404"));
    EXPECT_EQ(result.code, -1001);
    EXPECT_EQ(result.message, failed + "404");
    EXPECT_EQ(result.text, "");
    for (const std::string& url : {"http://127.0.0.1:" + std::to_string(UnusedPort()) + "/", server.Url("/stall")}) {
        std::tie(id, result) = run(url, 300);
        EXPECT_EQ(id, -1) << url;
        EXPECT_EQ(result.code, -1002) << url;
        EXPECT_EQ(result.message, WideToChs(L"网络请求失败")) << url;
        EXPECT_EQ(result.text, "") << url;
    }
}

TEST(NetHttp, HttpsAcceptsAnUntrustedCertificateForAnotherName) {
    LocalServer server(true);
    server.http().Get("/tls", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("secret", "text/plain");
    });
    server.Start();
    NetRequest net;
    net.Initialize();
    Recorder recorder;
    TempFolder folder;

    EXPECT_GT(RunHere(net, HttpRequest(server.Url("/tls"), recorder)), 0);
    EXPECT_EQ(recorder.Events().back().text, "secret");
    stDownloadRequest download = DownloadRequest(server.Url("/tls"), folder / "tls.txt", recorder);
    download.head.isAsync = false;
    EXPECT_GT(net.DownloadFile(&download), 0);
    EXPECT_EQ(ReadFile(folder / "tls.txt"), "secret");
}

TEST(NetHttp, RecordsAreReadUpToTheSmallerSizeAndIncompleteOnesRefused) {
    LocalServer server;
    std::mutex lock;
    std::vector<Seen> seen;
    Remember(server, "/r", lock, seen);
    server.Start();
    NetRequest net;
    net.Initialize();
    Recorder recorder;

    stKeyValue header[] = {{"X-Extra", "1"}};
    stKeyValue query[] = {{"q", "1"}};
    stHttpRequest request = HttpRequest(server.Url("/r"), recorder);
    request.headers = {1, header};
    request.queryParams = {1, query};
    request.structSize = 34;  // head only: no headers, no query, no callback
    EXPECT_GT(RunHere(net, request), 0);
    request.structSize = 46;  // up to the headers
    EXPECT_GT(RunHere(net, request), 0);
    struct {
        stHttpRequest request;
        unsigned char newer[16];
    } larger;
    larger.request = request;
    larger.request.structSize = sizeof larger;
    std::memset(larger.newer, 0xFF, sizeof larger.newer);
    EXPECT_GT(RunHere(net, larger.request), 0);

    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].target, "/r");
    EXPECT_EQ(seen[0].headers.count("X-Extra"), 0u);
    EXPECT_EQ(seen[1].target, "/r");
    EXPECT_EQ(seen[1].headers.count("X-Extra"), 1u);
    EXPECT_EQ(seen[2].target, "/r?q=1");
    EXPECT_EQ(recorder.Responses(), 1u);

    stHttpRequest noUrl = HttpRequest(server.Url("/r"), recorder);
    noUrl.head.url = nullptr;
    stHttpRequest noOwner = HttpRequest(server.Url("/r"), recorder);
    noOwner.head.owner = nullptr;
    EXPECT_EQ(net.HttpGet(&noUrl), -1);
    EXPECT_EQ(net.HttpPost(&noOwner), -1);
    stDownloadRequest headOnly = DownloadRequest(server.Url("/r"), "/tmp/never-written", recorder);
    headOnly.structSize = 34;  // savePath falls back to none
    EXPECT_EQ(net.DownloadFile(&headOnly), -1);
    stUploadRequest upload;
    upload.head = request.head;
    upload.filePath = "/etc/hostname";
    upload.onResponse = &Recorder::OnResponse;
    EXPECT_EQ(net.UploadFile(&upload), -1);
    upload.head.isAsync = false;
    EXPECT_EQ(net.UploadFile(&upload), -1);
    PumpFor(100);
    EXPECT_EQ(recorder.Responses(), 1u);
    EXPECT_EQ(seen.size(), 3u);
}

TEST(NetIds, FirstIdIsTwoAndIdsRiseByOneAcrossKinds) {
    FILE* probe = popen(NET_FIRST_ID_PROBE, "r");
    ASSERT_NE(probe, nullptr);
    char line[64] = {};
    EXPECT_NE(fgets(line, sizeof line, probe), nullptr);
    EXPECT_EQ(pclose(probe), 0);
    EXPECT_STREQ(line, "2 3 4\n");

    NetRequest net;
    net.Initialize();
    Recorder recorder;
    const std::string nowhere = "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/";
    stHttpRequest http = HttpRequest(nowhere, recorder);
    stDownloadRequest download = DownloadRequest(nowhere, "/nonexistent-folder/never/written", recorder);
    const int32_t first = net.HttpGet(&http);
    EXPECT_EQ(net.HttpPost(&http), first + 1);
    EXPECT_EQ(net.DownloadFile(&download), first + 2);
    http.head.url = nullptr;
    EXPECT_EQ(net.HttpGet(&http), -1);  // a refused record takes no id
    http.head.url = nowhere.c_str();
    EXPECT_EQ(net.HttpGet(&http), first + 3);
    EXPECT_TRUE(recorder.WaitResponses(4));
}
