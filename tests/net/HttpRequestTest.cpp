#include "DeviceIdentity.h"
#include "NetTestSupport.h"

// Runs on this thread; returns what the submission returned.
static int32_t RunHere(NetRequest& net, stHttpRequest request, bool post = false) {
    request.head.isAsync = false;
    return post ? net.HttpPost(&request) : net.HttpGet(&request);
}

TEST(NetHttp, ServerSeesUserDeviceReplaceableHeadersEncodedQueryAndFormAndRecordsUpToTheirSize) {
    std::mutex lock;
    std::vector<std::string> seen;  // method, target, [body] and the headers of interest
    Server server([&](httplib::Server& http) {
        const auto remember = [&](const httplib::Request& request, httplib::Response&) {
            std::string line = request.method + " " + request.target + " [" + request.body + "]";
            for (const char* name : {"User-Device", "X-Extra", "Content-Type", "Content-Length"}) {
                for (auto [at, end] = request.headers.equal_range(name); at != end; ++at) line += " " + at->second;
            }
            std::lock_guard<std::mutex> guard(lock);
            seen.push_back(line);
        };
        http.Get("/seen", remember);
        http.Post("/seen", remember);
    });
    Started net;
    Recorder recorder;
    const std::string url = server.Url("/seen"), device = MakeUserDevice();
    stKeyValue headers[] = {{"user-device", "mine"}, {"X-Extra", "1"}, {"x-EXTRA", "2"}, {"CONTENT-TYPE", "text/a"}};
    stKeyValue query[] = {{"a", "1 2"}, {"b", "x&y/\xC3\xBC~"}, {"null", nullptr}, {nullptr, "v"}, {"k", "-_."}};
    stKeyValue form[] = {{"name", "a b+c"}, {"k", "\xC3\xBC~"}};
    const struct {
        bool post;
        uint32_t size;  // of the record as its caller knew it
        stKeyValueList headers, query, form;
        std::string wire;
    } cases[] = {
        {false, 78, {}, {5, query}, {}, "GET /seen?a=1+2&b=x%26y%2F%C3%BC%7E&k=%2D%5F%2E [] " + device},
        {true, 78, {4, headers}, {-1, query}, {2, form}, "POST /seen [name=a+b%2Bc&k=%C3%BC~] mine 2 text/a 22"},
        {true, 78, {}, {1, query}, {}, "POST /seen?a=1+2 [] " + device + " application/x-www-form-urlencoded 0"},
        {false, 34, {1, headers + 1}, {1, query}, {}, "GET /seen [] " + device},  // head only, no callback
        {false, 46, {1, headers + 1}, {1, query}, {}, "GET /seen [] " + device + " 1"},
        {false, 94, {1, headers + 1}, {1, query}, {}, "GET /seen?a=1+2 [] " + device + " 1"},
    };
    struct {
        stHttpRequest request;
        unsigned char newer[16] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};  // a later layout's fields
    } record;
    for (const auto& c : cases) {
        record.request = Http(url, recorder);
        record.request.structSize = c.size;
        record.request.headers = c.headers;
        record.request.queryParams = c.query;
        record.request.formFields = c.form;
        EXPECT_GT(RunHere(net, record.request, c.post), 0);
        std::lock_guard<std::mutex> guard(lock);
        EXPECT_EQ(seen.back(), c.wire);
    }
    ASSERT_EQ(recorder.Responses(), 4u);
    EXPECT_EQ(recorder.Events().back().url, url);  // as submitted, without the query

    stHttpRequest noUrl = Http(url, recorder), noOwner = noUrl;
    stUploadRequest upload;
    upload.head = noUrl.head;
    upload.filePath = "/etc/hostname";
    upload.onResponse = noUrl.onResponse;
    noUrl.head.url = nullptr;
    noOwner.head.owner = nullptr;
    stDownloadRequest headOnly = Download(url, "/never/written", recorder);
    headOnly.structSize = 34;  // no savePath
    EXPECT_EQ(net.HttpGet(&noUrl) + net.HttpPost(&noOwner) + net.DownloadFile(&headOnly), -3);
    EXPECT_EQ(net.UploadFile(&upload), -1);
    upload.head.isAsync = false;
    EXPECT_EQ(net.UploadFile(&upload), -1);
    Until([] { return false; }, true, 200);  // a while of UI ticks: nothing may come
    EXPECT_EQ(recorder.Responses(), 4u);
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(seen.size(), std::size(cases));
}

TEST(NetHttp, StatusDecidesCodeMessageAndTextAndCertificatesAreNotChecked) {
    Server server, tls({}, true);
    Started net;
    Recorder recorder;
    const std::string failed = WideToChs(L"服务器返回异常，错误码: "), noAnswer = WideToChs(L"网络请求失败");
    const struct {
        std::string url;
        int code;
        std::string message, text;
    } cases[] = {{server.Url("/answer?status=302"), 0, "", "quick"},
                 {server.Url("/answer?status=399&body=edge"), 0, "", "edge"},
                 {server.Url("/answer?status=400&body=bad"), -1001, failed + "400", ""},
                 {server.Url("/answer?status=404&body=missing"), -1001, failed + "404", ""},
                 {Server().Url("/"), -1002, noAnswer, ""},  // nobody listens there any more
                 {server.Url("/hold"), -1002, noAnswer, ""},
                 {tls.Url("/quick"), 0, "", "quick"}};
    for (const auto& expected : cases) {
        stHttpRequest request = Http(expected.url, recorder);
        request.head.timeoutMs = 500;
        const int32_t id = RunHere(net, request);
        const Event result = recorder.Events().back();
        EXPECT_EQ(id, expected.code == 0 ? result.id : -1) << expected.url;
        EXPECT_EQ(result.code, expected.code) << expected.url;
        EXPECT_EQ(result.message, expected.message) << expected.url;
        EXPECT_EQ(result.text, expected.text) << expected.url;
        EXPECT_EQ(result.thread, std::this_thread::get_id());
    }
    TempFolder folder;
    stDownloadRequest download = Download(tls.Url("/quick"), folder / "tls.txt", recorder);
    download.head.isAsync = false;
    EXPECT_GT(net.DownloadFile(&download), 0);
    EXPECT_EQ(ReadFile(folder / "tls.txt"), "quick");
}

TEST(NetIds, FirstIdIsTwoAndIdsRiseByOneAcrossKindsButNotForRefusals) {
    FILE* probe = popen(NET_FIRST_ID_PROBE, "r");  // a fresh process: GET, POST, download, refused, GET
    char line[64] = {};
    ASSERT_NE(fgets(line, sizeof line, probe), nullptr);
    pclose(probe);
    EXPECT_STREQ(line, "2 3 4 -1 5\n");
}
