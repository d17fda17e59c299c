#include "DeviceIdentity.h"
#include "NetTestSupport.h"

TEST_F(Net, ServerSeesUserDeviceReplaceableHeadersEncodedQueryAndFormAndRecordsUpToTheirSize) {
    std::mutex lock;
    std::vector<std::string> seen;  // method, target, [body] and the values of the headers of interest
    Server seeing([&](httplib::Server& http) {
        const auto remember = [&](const httplib::Request& request, auto&) {
            std::string line = request.method + " " + request.target + " [" + request.body + "]";
            for (const char* name : {"User-Device", "X-Extra", "Content-Type", "Content-Length"})
                for (auto [at, end] = request.headers.equal_range(name); at != end; ++at) line += " " + at->second;
            std::lock_guard<std::mutex> guard(lock);
            seen.push_back(line);
        };
        http.Get("/seen", remember).Post("/seen", remember);
    });
    const std::string url = seeing.Url("/seen"), device = MakeUserDevice();
    stKeyValue headers[] = {{"user-device", "mine"}, {"X-Extra", "1"}, {"x-EXTRA", "2"}, {"CONTENT-TYPE", "text/a"}};
    stKeyValue query[] = {{"a", "1 2"}, {"b", "x&y/\xC3\xBC~"}, {"null", nullptr}, {nullptr, "v"}, {"k", "-_."}};
    stKeyValue form[] = {{"name", "a b+c"}, {"k", "\xC3\xBC~"}};
    // size: of the record as its caller knew it; 34 is the head alone, without even the callback.
    const struct { bool post; uint32_t size; stKeyValueList headers, query, form; std::string wire; } cases[] = {
        {false, 78, {}, {5, query}, {}, "GET /seen?a=1+2&b=x%26y%2F%C3%BC%7E&k=%2D%5F%2E [] " + device},
        {true, 78, {4, headers}, {-1, query}, {2, form}, "POST /seen [name=a+b%2Bc&k=%C3%BC~] mine 2 text/a 22"},
        {true, 78, {}, {1, query}, {}, "POST /seen?a=1+2 [] " + device + " application/x-www-form-urlencoded 0"},
        {false, 34, {1, headers + 1}, {1, query}, {}, "GET /seen [] " + device},
        {false, 94, {1, headers + 1}, {1, query}, {}, "GET /seen?a=1+2 [] " + device + " 1"},
    };
    static std::vector<std::string> urls;  // of the responses
    const stHttpRequest base{{url.c_str(), 3000, false, &recorder, true, nullptr}, 78, {}, {}, {},
                             [](const stResponseInfo& info, const char*) { urls.push_back(info.url); }};
    struct { stHttpRequest request; unsigned char newer[16] = {0xFF, 0xFF, 0xFF, 0xFF}; } record;  // a later layout
    for (const auto& c : cases) {
        record.request = {base.head, c.size, c.headers, c.query, c.form, base.onResponse};
        EXPECT_GT(c.post ? net.HttpPost(&record.request) : net.HttpGet(&record.request), 0);
        std::lock_guard<std::mutex> guard(lock);
        EXPECT_EQ(seen.back(), c.wire);
    }

    const stHttpRequest noUrl{{nullptr, 3000, false, &recorder, true, nullptr}, 78, {}, {}, {}, base.onResponse},
        noOwner{{url.c_str(), 3000, false, nullptr, true, nullptr}, 78, {}, {}, {}, base.onResponse};
    stDownloadRequest headOnly = Download(url, "/never/written", recorder);
    headOnly.structSize = 34;  // no savePath
    stUploadRequest upload{headOnly.head, 74, "/etc/hostname", 3600, 0, headOnly.onResponse, nullptr, nullptr};
    EXPECT_EQ(net.HttpGet(&noUrl) + net.HttpPost(&noOwner) + net.DownloadFile(&headOnly) + net.UploadFile(&upload), -4);
    Until([] { return false; }, true, 200);  // a while of UI ticks: nothing may come
    EXPECT_TRUE(recorder.Finished().empty());
    EXPECT_EQ(urls, std::vector<std::string>(4, url));  // as submitted, without the query
}

TEST_F(Net, StatusDecidesCodeMessageAndTextAndCertificatesAreNotChecked) {
    Server tls({}, true);
    const std::string failed = WideToChs(L"服务器返回异常，错误码: "), noAnswer = WideToChs(L"网络请求失败");
    const struct { std::string url, result; } cases[] = {
        {server.Url("/answer?status=302"), "R0 |quick"},
        {server.Url("/answer?status=399&body=edge"), "R0 |edge"},
        {server.Url("/answer?status=400&body=bad"), "R-1001 " + failed + "400|"},
        {server.Url("/answer?status=404&body=missing"), "R-1001 " + failed + "404|"},
        {Server().Url("/"), "R-1002 " + noAnswer + "|"},  // nobody listens there any more
        {tls.Url("/quick"), "R0 |quick"},  // with a certificate nobody could trust
    };
    for (const auto& c : cases) {
        stHttpRequest request = Http(c.url, recorder);
        request.head.timeoutMs = 500;
        request.head.isAsync = false;
        const int32_t id = net.HttpGet(&request), last = *recorder.Finished().rbegin();
        EXPECT_EQ(recorder.Of(last), c.result) << c.url;
        EXPECT_EQ(id, c.result[1] == '0' ? last : -1);  // the id only for success
    }
}

TEST(NetIds, FirstIdIsTwoAndIdsRiseByOneAcrossKindsButNotForRefusals) {
    FILE* probe = popen(NET_FIRST_ID_PROBE, "r");  // a fresh process: GET, POST, download, refused, GET
    char line[64] = {};
    EXPECT_STREQ(fgets(line, sizeof line, probe), "2 3 4 -1 5\n");
    pclose(probe);
}
