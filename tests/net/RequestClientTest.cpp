#include <map>

#include "NetTestSupport.h"
#include "net_request/RequestClient.h"

// A GET whose results land in `results`; `context` expires once the client has freed its context.
static int32_t Get(RequestClient& client, const std::string& url, bool isAsync, bool onUi,
                   std::vector<RequestFinishedRes>& results, std::weak_ptr<int>& context) {
    const auto token = std::make_shared<int>();
    context = token;
    HttpRequestParams params;
    params.url = url;
    params.isAsync = isAsync;
    params.callbackOnUiThread = onUi;
    params.onFinished = [token, &results](const RequestFinishedRes& result) { results.push_back(result); };
    return client.Get(params);
}

TEST(RequestClient, ResultsReachTheirFunctionsAndEveryContextIsFreed) {
    Server server;
    Started net;
    int owner = 0;
    RequestClient client(&net, &owner), detached(nullptr, &owner);
    std::vector<RequestFinishedRes> results;
    std::weak_ptr<int> context;
    const int32_t sync = Get(client, server.Url("/quick"), false, true, results, context);
    ASSERT_EQ(results.size(), 1u);  // before the call returned
    EXPECT_TRUE(results[0].id == sync && results[0].errorCode == 0 && !results[0].isAsync && context.expired());
    EXPECT_EQ(results[0].url + " " + results[0].body, server.Url("/quick") + " quick");
    EXPECT_EQ(Get(client, server.Url("/answer?status=404"), false, true, results, context), -1);
    EXPECT_EQ(results.at(1).errorMsg, WideToChs(L"服务器返回异常，错误码: ") + "404");
    EXPECT_TRUE(context.expired());
    const int32_t async = Get(client, server.Url("/quick"), true, true, results, context);
    EXPECT_FALSE(context.expired());
    ASSERT_TRUE(Until([&] { return results.size() == 3; }));
    EXPECT_TRUE(results[2].id == async && results[2].isAsync && context.expired());
    EXPECT_EQ(Get(detached, server.Url("/quick"), true, true, results, context), -1001);
    EXPECT_TRUE(context.expired());

    TempFolder folder;
    std::vector<std::string> reports;
    auto token = std::make_shared<int>();
    context = token;
    DownloadRequestParams download;
    download.url = server.Url("/stream?kib=1");
    download.savePath = folder / "s.txt";
    download.onFinished = [token, &reports](const FileOperationRes& r) { reports.push_back(r.path); };
    download.onProgress = [&reports](int, double fraction) { reports.push_back(std::to_string(fraction)); };
    download.onByteProgress = [&reports](int, long long got, long long of) {
        reports.push_back(std::to_string(got) + " of " + std::to_string(of));
    };
    EXPECT_GT(client.Download(download), 0);
    UploadRequestParams upload;
    upload.url = download.url;
    upload.filePath = download.savePath;
    upload.onFinished = download.onFinished;
    EXPECT_EQ(client.Upload(upload), -1);  // refused: its context goes at once
    EXPECT_EQ(detached.Download(download), -1001);
    download = {};
    upload = {};
    token.reset();
    ASSERT_TRUE(Until([&] { return reports.size() == 3; }));
    EXPECT_EQ(reports, std::vector<std::string>({"-1024.000000", "1024 of -1", folder / "s.txt"}));
    EXPECT_TRUE(context.expired());
}

// The real service, except that a GET returns only once its result was delivered, as it happens
// to a submitter that loses the processor at the wrong moment.
struct ReturnsLate : Started {
    int32_t HttpGet(const stHttpRequest* request) override {
        const int32_t id = NetRequest::HttpGet(request);
        Until([&] { return delivered(id); }, false, 2000);
        return id;
    }
    std::function<bool(int)> delivered;
};

TEST(RequestClient, WithdrawnContextsAreFreedAndWorkerResultsFindTheirsEvenBeforeSubmissionReturns) {
    Server server;
    Started net;
    ReturnsLate late;
    int owner = 0;
    const auto token = std::make_shared<int>();  // every context holds a copy
    std::mutex lock;
    std::map<int, int> calls;
    late.delivered = [&](int id) {
        std::lock_guard<std::mutex> guard(lock);
        return calls.count(id) > 0;
    };
    {
        RequestClient client(&net, &owner), lateClient(&late, &owner);
        std::vector<RequestFinishedRes> results;
        std::vector<std::weak_ptr<int>> held(6);
        for (int i = 0; i < 5; ++i) Get(client, server.Url("/hold"), true, false, results, held[i]);
        ASSERT_TRUE(Until([&] { return server.held == 5; }, false));
        client.Cancel(Get(client, server.Url("/quick"), true, false, results, held[5]));  // queued
        EXPECT_TRUE(held[5].expired());
        client.CancelAll();
        for (const auto& context : held) EXPECT_TRUE(context.expired());
        server.released = true;

        const auto submit = [&](RequestClient* through, int count) {
            for (int i = 0; i < count; ++i) {
                HttpRequestParams params;
                params.url = server.Url("/quick");
                params.callbackOnUiThread = false;
                params.onFinished = [token, &lock, &calls](const RequestFinishedRes& result) {
                    std::lock_guard<std::mutex> guard(lock);
                    ++calls[result.id];
                };
                const int32_t id = through->Get(params);
                EXPECT_TRUE(through == &client || late.delivered(id)) << "a result that came first found no context";
            }
        };
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) threads.emplace_back(submit, &lateClient, 25);
        for (std::thread& thread : threads) thread.join();
        EXPECT_TRUE(Until([&] { return token.use_count() == 1; }, false));  // freed by their own results

        // Submissions racing CancelAll: no context may be lost or freed under a callback.
        threads.clear();
        for (int t = 0; t < 2; ++t) threads.emplace_back(submit, &client, 100);
        std::atomic<bool> submitting{true};
        std::thread canceller([&] {
            while (submitting) client.CancelAll();
        });
        for (std::thread& thread : threads) thread.join();
        submitting = false;
        canceller.join();
        EXPECT_TRUE(results.empty());
    }
    net.Uninitialize();
    EXPECT_EQ(token.use_count(), 1);
    std::lock_guard<std::mutex> guard(lock);
    for (const auto& [id, count] : calls) EXPECT_EQ(count, 1) << id;
    EXPECT_GE(calls.size(), 100u);
}
