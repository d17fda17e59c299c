#include <gtest/gtest.h>

#include <atomic>
#include <map>

#include "NetTestSupport.h"
#include "TempFolder.h"
#include "TextConversion.h"
#include "net_request/NetRequest.h"
#include "net_request/RequestClient.h"

using namespace LiveModule;
using namespace nettest;

namespace {

struct Served {
    LocalServer server;
    Served() {
        server.http().Get("/ok", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("fine", "text/plain");
        });
        server.http().Get("/missing", [](const httplib::Request&, httplib::Response& response) {
            response.status = 404;
        });
        server.http().Get("/hold", [this](const httplib::Request& request, httplib::Response& response) {
            if (request.method != "HEAD") server.gate.Pass();
            response.set_content("held", "text/plain");
        });
        server.Start();
    }
};

// A GET whose results land in `results`; `context` expires once the client has freed its context.
int32_t Get(RequestClient& client, const std::string& url, bool isAsync, bool onUi,
            std::vector<RequestFinishedRes>& results, std::weak_ptr<int>& context) {
    auto token = std::make_shared<int>();
    context = token;
    HttpRequestParams params;
    params.url = url;
    params.isAsync = isAsync;
    params.callbackOnUiThread = onUi;
    params.onFinished = [token, &results](const RequestFinishedRes& result) { results.push_back(result); };
    return client.Get(params);
}

}  // namespace

TEST(RequestClient, ResultsReachTheirFunctionsAndEveryContextIsFreed) {
    Served served;
    NetRequest net;
    net.Initialize();
    int owner = 0;
    RequestClient client(&net, &owner);
    std::vector<RequestFinishedRes> results;
    std::weak_ptr<int> context;

    const int32_t sync = Get(client, served.server.Url("/ok"), false, true, results, context);
    ASSERT_EQ(results.size(), 1u);  // before the call returned
    EXPECT_EQ(results[0].id, sync);
    EXPECT_EQ(results[0].errorCode, 0);
    EXPECT_FALSE(results[0].isAsync);
    EXPECT_EQ(results[0].url, served.server.Url("/ok"));
    EXPECT_EQ(results[0].body, "fine");
    EXPECT_TRUE(context.expired());
    EXPECT_EQ(Get(client, served.server.Url("/missing"), false, true, results, context), -1);
    EXPECT_EQ(results.at(1).errorCode, -1001);
    EXPECT_EQ(results[1].errorMsg, WideToChs(L"服务器返回异常，错误码: ") + "404");
    EXPECT_TRUE(context.expired());

    const int32_t async = Get(client, served.server.Url("/ok"), true, true, results, context);
    EXPECT_FALSE(context.expired());
    ASSERT_TRUE(PumpUntil([&] { return results.size() == 3; }));
    EXPECT_EQ(results[2].id, async);
    EXPECT_TRUE(results[2].isAsync);
    EXPECT_TRUE(context.expired());

    TempFolder folder;
    std::vector<double> fractions;
    std::vector<FileOperationRes> files;
    auto token = std::make_shared<int>();
    std::weak_ptr<int> downloadContext = token;
    DownloadRequestParams download;
    download.url = served.server.Url("/ok");
    download.savePath = folder / "ok.txt";
    download.onFinished = [token, &files](const FileOperationRes& result) { files.push_back(result); };
    download.onProgress = [&fractions](int, double fraction) { fractions.push_back(fraction); };
    download.onByteProgress = [&fractions](int, long long received, long long total) {
        fractions.push_back(static_cast<double>(received) / static_cast<double>(total));
    };
    EXPECT_GT(client.Download(download), 0);
    UploadRequestParams upload;
    upload.url = download.url;
    upload.filePath = download.savePath;
    upload.onFinished = download.onFinished;
    EXPECT_EQ(client.Upload(upload), -1);
    download = {};
    upload = {};
    token.reset();
    ASSERT_TRUE(PumpUntil([&] { return files.size() == 1; }));
    EXPECT_EQ(files[0].errorCode, 0);
    EXPECT_EQ(files[0].path, folder / "ok.txt");
    EXPECT_EQ(fractions, std::vector<double>({1.0, 1.0}));
    EXPECT_EQ(ReadFile(folder / "ok.txt"), "fine");
    EXPECT_TRUE(downloadContext.expired());

    RequestClient detached(nullptr, &owner);
    EXPECT_EQ(Get(detached, served.server.Url("/ok"), true, true, results, context), -1001);
    EXPECT_EQ(detached.Download(DownloadRequestParams{}), -1001);
    detached.Cancel(1);
    detached.CancelAll();
    EXPECT_TRUE(context.expired());
    EXPECT_EQ(results.size(), 3u);
}

TEST(RequestClient, CancelAllFreesPendingContextsAndNothingCallsBackAfterwards) {
    Served served;
    NetRequest net;
    net.Initialize();
    int owner = 0;
    RequestClient client(&net, &owner);
    std::vector<RequestFinishedRes> results;
    std::vector<std::weak_ptr<int>> contexts(6);
    for (int i = 0; i < 5; ++i) Get(client, served.server.Url("/hold"), true, false, results, contexts[i]);
    ASSERT_TRUE(served.server.gate.WaitArrivals(5));
    const int32_t queued = Get(client, served.server.Url("/ok"), true, false, results, contexts[5]);
    client.Cancel(queued);
    EXPECT_TRUE(contexts[5].expired());
    client.CancelAll();
    for (const auto& context : contexts) EXPECT_TRUE(context.expired());
    served.server.gate.Open();
    net.Uninitialize();  // every worker has finished what it was running
    EXPECT_TRUE(results.empty());
}

TEST(RequestClient, WorkerDeliveredResultsFindTheirContextsEvenBeforeTheSubmissionReturns) {
    Served served;
    NetRequest net;
    net.Initialize();
    int owner = 0;
    auto token = std::make_shared<int>();  // every pending context holds a copy
    std::mutex lock;
    std::map<int, int> calls;
    std::vector<int> ids;
    std::atomic<bool> submitting{true};
    {
        RequestClient client(&net, &owner);
        const auto submit = [&](int count) {
            for (int i = 0; i < count; ++i) {
                HttpRequestParams params;
                params.url = served.server.Url("/ok");
                params.callbackOnUiThread = false;
                params.onFinished = [token, &lock, &calls](const RequestFinishedRes& result) {
                    std::lock_guard<std::mutex> guard(lock);
                    ++calls[result.id];
                };
                const int32_t id = client.Get(params);
                std::lock_guard<std::mutex> guard(lock);
                ids.push_back(id);
            }
        };
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) threads.emplace_back(submit, 100);
        for (std::thread& thread : threads) thread.join();
        const auto allCalled = [&] {
            std::lock_guard<std::mutex> guard(lock);
            return calls.size() == 400;
        };
        ASSERT_TRUE(WaitWithoutUi(allCalled, 60000));
        EXPECT_EQ(token.use_count(), 1);  // freed by their own results, whatever came first
        for (const int id : ids) EXPECT_EQ(calls[id], 1) << id;

        // Submissions racing CancelAll: each result at most once, no context lost.
        threads.clear();
        for (int t = 0; t < 2; ++t) threads.emplace_back(submit, 100);
        std::thread canceller([&] {
            while (submitting) client.CancelAll();
        });
        for (std::thread& thread : threads) thread.join();
        submitting = false;
        canceller.join();
    }
    net.Uninitialize();
    EXPECT_EQ(token.use_count(), 1);
    std::lock_guard<std::mutex> guard(lock);
    for (const auto& [id, count] : calls) EXPECT_EQ(count, 1) << id;
    EXPECT_EQ(ids.size(), 600u);
}
