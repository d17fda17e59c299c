#include <gtest/gtest.h>

#include "DeviceIdentity.h"
#include "NetTestSupport.h"
#include "TempFolder.h"
#include "TextConversion.h"
#include "net_request/NetRequest.h"

using namespace LiveModule;
using namespace nettest;

namespace {

// A started service with a server that remembers what it was sent on /seen.
struct Fixture {
    std::mutex lock;
    std::vector<httplib::Request> seen;
    Recorder recorder;
    Server server;
    NetRequest net;
    Fixture() {
        const auto remember = [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard<std::mutex> guard(lock);
            seen.push_back(request);
            response.set_content("ok", "text/plain");
        };
        server.http->Get("/seen", remember);
        server.http->Post("/seen", remember);
    }
    // Runs on this thread; returns what the submission returned.
    int32_t Run(stHttpRequest request, bool post = false) {
        request.head.isAsync = false;
        return post ? net.HttpPost(&request) : net.HttpGet(&request);
    }
    size_t Seen() {
        std::lock_guard<std::mutex> guard(lock);
        return seen.size();
    }
    std::string Target(size_t index) { return At(index).target; }
    std::string Body(size_t index) { return At(index).body; }
    std::string Header(size_t index, const char* name) {
        const httplib::Headers headers = At(index).headers;
        return headers.count(name) == 1 ? headers.find(name)->second : std::to_string(headers.count(name)) + " times";
    }
    httplib::Request At(size_t index) {
        std::lock_guard<std::mutex> guard(lock);
        return seen.at(index);
    }
};

}  // namespace

TEST(NetHttp, ServerSeesUserDeviceReplaceableHeadersAndEncodedQueryAndForm) {
    Fixture f;
    f.server.Start();
    f.net.Initialize();
    const std::string url = f.server.Url("/seen");
    stKeyValue headers[] = {{"user-device", "mine"}, {"X-Extra", "1"}, {"x-EXTRA", "2"}, {"CONTENT-TYPE", "text/a"}};
    stKeyValue query[] = {{"a", "1 2"}, {"b", "x&y/\xC3\xBC~"}, {"null", nullptr}, {nullptr, "v"}, {"k", "-_."}};
    stKeyValue form[] = {{"name", "a b+c"}, {"k", "\xC3\xBC~"}};
    stHttpRequest get = Http(url, f.recorder), custom = get, post = get;
    get.queryParams = {5, query};
    custom.headers = {4, headers};
    custom.queryParams = {-1, query};
    post.queryParams = {1, query};
    post.formFields = {2, form};
    EXPECT_GT(f.Run(get), 0);
    EXPECT_GT(f.Run(custom), 0);
    EXPECT_GT(f.Run(post, true), 0);
    EXPECT_GT(f.Run(Http(url, f.recorder), true), 0);

    ASSERT_EQ(f.Seen(), 4u);
    EXPECT_EQ(f.Target(0), "/seen?a=1+2&b=x%26y%2F%C3%BC%7E&k=%2D%5F%2E");
    EXPECT_EQ(f.Header(0, "User-Device"), MakeUserDevice());
    EXPECT_EQ(f.Target(1), "/seen");
    EXPECT_EQ(f.Header(1, "User-Device"), "mine");
    EXPECT_EQ(f.Header(1, "X-Extra"), "2");
    EXPECT_EQ(f.Target(2), "/seen?a=1+2");
    EXPECT_EQ(f.Body(2), "name=a+b%2Bc&k=%C3%BC~");
    EXPECT_EQ(f.Header(2, "Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(f.Header(2, "User-Device"), MakeUserDevice());
    EXPECT_EQ(f.Body(3), "");
    EXPECT_EQ(f.Header(3, "Content-Length"), "0");
    EXPECT_EQ(f.recorder.Events()[0].url, url);  // as submitted, without the query
}

TEST(NetHttp, StatusDecidesCodeMessageAndTextAndCertificatesAreNotChecked) {
    Fixture f;
    const auto answer = [&](const char* path, int status, const char* body) {
        f.server.http->Get(path, [=](const httplib::Request&, httplib::Response& response) {
            response.status = status;
            response.set_content(body, "text/plain");
            if (status == 302) response.set_header("Location", "/final");
        });
    };
    answer("/redirect", 302, "moved");
    answer("/final", 200, "final body");
    answer("/s399", 399, "edge");
    answer("/s400", 400, "bad");
    answer("/s404", 404, "missing");
    f.server.http->Get("/stall", [&](const httplib::Request&, httplib::Response&) { f.server.Hold(); });
    f.server.Start();
    Server tls(true);
    tls.http->Get("/tls", [](const httplib::Request&, httplib::Response& r) { r.set_content("secret", "text/plain"); });
    tls.Start();
    f.net.Initialize();
    const std::string failed = WideToChs(L"服务器返回异常，错误码: "), noAnswer = WideToChs(L"网络请求失败");
    const struct {
        std::string url;
        int code;
        std::string message, text;
    } cases[] = {{f.server.Url("/redirect"), 0, "", "final body"}, {f.server.Url("/s399"), 0, "", "edge"},
                 {f.server.Url("/s400"), -1001, failed + "400", ""}, {f.server.Url("/s404"), -1001, failed + "404", ""},
                 {NowhereUrl(), -1002, noAnswer, ""},           {f.server.Url("/stall"), -1002, noAnswer, ""},
                 {tls.Url("/tls"), 0, "", "secret"}};
    for (const auto& expected : cases) {
        stHttpRequest request = Http(expected.url, f.recorder);
        request.head.timeoutMs = 500;
        const int32_t id = f.Run(request);
        const Event result = f.recorder.Events().back();
        EXPECT_EQ(id, expected.code == 0 ? result.id : -1) << expected.url;
        EXPECT_EQ(result.code, expected.code) << expected.url;
        EXPECT_EQ(result.message, expected.message) << expected.url;
        EXPECT_EQ(result.text, expected.text) << expected.url;
        EXPECT_EQ(result.thread, std::this_thread::get_id());
    }
    TempFolder folder;
    stDownloadRequest download = Download(tls.Url("/tls"), folder / "tls.txt", f.recorder);
    download.head.isAsync = false;
    EXPECT_GT(f.net.DownloadFile(&download), 0);
    EXPECT_EQ(ReadFile(folder / "tls.txt"), "secret");
}

TEST(NetHttp, RecordsAreReadUpToTheSmallerSizeAndIncompleteOrUploadRecordsRefused) {
    Fixture f;
    f.server.Start();
    f.net.Initialize();
    stKeyValue header[] = {{"X-Extra", "1"}}, query[] = {{"q", "1"}};
    stHttpRequest request = Http(f.server.Url("/seen"), f.recorder);
    request.headers = {1, header};
    request.queryParams = {1, query};
    request.structSize = 34;  // head only: no headers, no query, no callback
    EXPECT_GT(f.Run(request), 0);
    request.structSize = 46;  // up to the headers
    EXPECT_GT(f.Run(request), 0);
    struct {
        stHttpRequest request;
        unsigned char newer[16] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    } larger{request};
    larger.request.structSize = sizeof larger;
    EXPECT_GT(f.Run(larger.request), 0);
    ASSERT_EQ(f.Seen(), 3u);
    EXPECT_EQ(f.Target(0) + f.Header(0, "X-Extra"), "/seen0 times");
    EXPECT_EQ(f.Target(1) + f.Header(1, "X-Extra"), "/seen1");
    EXPECT_EQ(f.Target(2) + f.Header(2, "X-Extra"), "/seen?q=11");
    EXPECT_EQ(f.recorder.Responses(), 1u);

    stHttpRequest noUrl = request, noOwner = request;
    noUrl.head.url = nullptr;
    noOwner.head.owner = nullptr;
    stDownloadRequest headOnly = Download(f.server.Url("/seen"), "/never/written", f.recorder);
    headOnly.structSize = 34;  // savePath falls back to none
    stUploadRequest upload;
    upload.head = request.head;
    upload.filePath = "/etc/hostname";
    upload.onResponse = &Recorder::OnResponse;
    EXPECT_EQ(f.net.HttpGet(&noUrl) + f.net.HttpPost(&noOwner) + f.net.DownloadFile(&headOnly), -3);
    EXPECT_EQ(f.net.UploadFile(&upload), -1);
    upload.head.isAsync = false;
    EXPECT_EQ(f.net.UploadFile(&upload), -1);
    Until([] { return false; }, true, 200);  // a while of UI ticks: nothing may come
    EXPECT_EQ(f.recorder.Responses(), 1u);
    EXPECT_EQ(f.Seen(), 3u);
}

TEST(NetIds, FirstIdIsTwoAndIdsRiseByOneAcrossKinds) {
    FILE* probe = popen(NET_FIRST_ID_PROBE, "r");
    char line[64] = {};
    ASSERT_NE(fgets(line, sizeof line, probe), nullptr);
    pclose(probe);
    EXPECT_STREQ(line, "2 3 4\n");

    NetRequest net;
    net.Initialize();
    Recorder recorder;
    stHttpRequest http = Http(NowhereUrl(), recorder), refused = http;
    stDownloadRequest download = Download(http.head.url, "/nonexistent-folder/never/written", recorder);
    refused.head.url = nullptr;
    const int32_t first = net.HttpGet(&http);
    EXPECT_EQ(net.HttpPost(&http), first + 1);
    EXPECT_EQ(net.DownloadFile(&download), first + 2);
    EXPECT_EQ(net.HttpGet(&refused), -1);  // takes no id
    EXPECT_EQ(net.HttpGet(&http), first + 3);
    EXPECT_TRUE(Until([&] { return recorder.Responses() == 4; }));
}
