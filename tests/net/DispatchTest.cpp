#include <filesystem>
#include <map>
#include <random>

#include "NetTestSupport.h"

static int32_t Get(NetRequest& net, stHttpRequest request, bool onUi) {
    request.head.callbackOnUiThread = onUi;
    return net.HttpGet(&request);
}

TEST(NetDispatch, RequestsWithdrawnWhileQueuedInFlightOrWaitingForTheUiThreadNeverCallBack) {
    Server server;
    Started net;
    Recorder recorder, selfStopping;
    TempFolder folder;
    int x = 0, y = 0, w = 0, other = 0;
    selfStopping.onEvent = [&](const Event&) { net.CancelOwnerRequests(&w); };
    // Quick ones delivered on the UI thread, which is not pumped yet.
    const int a = Get(net, Http(server.Url("/quick"), recorder, &x), true);
    const int e = Get(net, Http(server.Url("/quick"), recorder), true);
    for (void* owner : {&y, &y, &w, &w}) Get(net, Http(server.Url("/quick"), owner == &w ? selfStopping : recorder, owner), true);
    // Five held in flight, so every earlier result waits for the UI thread; three queued.
    std::vector<int> held;
    for (int i = 0; i < 8; ++i) held.push_back(Get(net, Http(server.Url("/hold"), recorder, i == 6 ? &other : nullptr), false));
    ASSERT_TRUE(Until([&] { return server.held == 5; }, false));
    net.CancelRequest(a);
    net.CancelOwnerRequests(&y);
    net.CancelRequest(held[0]);  // in flight
    net.CancelRequest(held[5]);  // queued
    net.CancelOwnerRequests(&other);
    stDownloadRequest download = Download(server.Url("/stream"), folder / "s", recorder);
    download.head.callbackOnUiThread = false;
    const int32_t streaming = net.DownloadFile(&download);
    ASSERT_TRUE(Until([&] { return !recorder.Events(streaming, 'B').empty(); }, false));
    net.CancelRequest(streaming);  // aborted at its next chunk
    ASSERT_TRUE(Until([&] { return server.streamsLeft == 1; }, false));

    server.released = true;
    ASSERT_TRUE(Until([&] { return recorder.Responses() == 6 && selfStopping.Responses() > 0; }));
    net.Uninitialize();  // joins the workers: whatever was still running has ended
    EXPECT_EQ(recorder.Finished(), std::set<int>({e, held[1], held[2], held[3], held[4], held[7]}));
    EXPECT_EQ(selfStopping.Responses(), 1u);  // its callback withdrew the other, due in the same tick
    EXPECT_EQ(server.held, 6);
    EXPECT_TRUE(std::filesystem::exists(folder / "s.download") && !std::filesystem::exists(folder / "s"));
}

TEST(NetLifecycle, StopDropsQueuedRunningAndWaitingWorkPromptlyAndTheServiceStartsAgain) {
    Server server;
    NetRequest net;
    Recorder recorder;
    TempFolder folder;
    stHttpRequest held = Http(server.Url("/hold"), recorder), here = Http(server.Url("/quick"), recorder);
    held.head.timeoutMs = 1000;
    here.head.isAsync = false;
    EXPECT_EQ(net.HttpGet(&held), -1);  // not started
    EXPECT_TRUE(net.Initialize());
    EXPECT_TRUE(net.Initialize());  // no second set of workers, no second timer

    for (int i = 0; i < 8; ++i) net.HttpGet(&held);  // five in flight, three queued
    std::vector<int> onWorker;
    for (int i = 0; i < 7; ++i) {  // five mid-transfer (three delivering on the UI thread), two queued
        stDownloadRequest stream = Download(server.Url("/stream"), folder / std::to_string(i), recorder);
        stream.head.callbackOnUiThread = i % 2 == 0;
        const int32_t id = net.DownloadFile(&stream);
        if (i % 2 && i < 5) onWorker.push_back(id);
    }
    // Not pumped: the UI-delivered progress waits for the UI thread.
    ASSERT_TRUE(Until([&] { return server.held >= 5 && server.streams == 5; }, false));
    for (int id : onWorker) ASSERT_TRUE(Until([&] { return !recorder.Events(id, 'B').empty(); }, false));

    const auto start = steady_clock::now();
    net.Uninitialize();
    EXPECT_LT(steady_clock::now() - start, seconds(3));  // the held GETs give up after their 1 s
    const size_t delivered = recorder.Events().size();
    EXPECT_EQ(delivered, recorder.Events(onWorker[0]).size() + recorder.Events(onWorker[1]).size());
    EXPECT_TRUE(Until([&] { return server.streamsLeft == 5; }));  // aborted, none ran to its end
    EXPECT_EQ(recorder.Events().size(), delivered);
    EXPECT_EQ(net.HttpGet(&held) + net.HttpGet(&here), -2);
    net.Uninitialize();

    EXPECT_TRUE(net.Initialize());
    here.head.isAsync = true;
    const int32_t again = net.HttpGet(&here);
    ASSERT_TRUE(Until([&] { return recorder.Responses() == 1; }));
    EXPECT_EQ(recorder.Events(again, 'R').at(0).text, "quick");
}

TEST(NetConcurrency, ManySubmittersAndCancellersLoseNothingAndNeverCallBackLate) {
    Server server;
    Started net;
    TempFolder folder;
    void* owners[3] = {&owners[0], &owners[1], &owners[2]};
    for (const bool onUi : {false, true}) {
        Recorder recorder;
        std::map<int, int> ownerOf;  // guarded by recorder.lock
        std::atomic<int> submitting{3};
        std::vector<std::thread> submitters;
        for (int t = 0; t < 3; ++t) {
            submitters.emplace_back([&, t] {
                for (int i = 0; i < 120; ++i) {
                    const std::string url = server.Url("/quick"), path = folder / std::to_string(onUi * 1000 + t * 120 + i);
                    stDownloadRequest download = Download(url, path, recorder, owners[i % 3]);
                    download.onProgress = nullptr;  // a withdrawal takes only a download's first UI task
                    download.onByteProgress = nullptr;
                    stHttpRequest http = Http(url, recorder, owners[i % 3]);
                    http.head.callbackOnUiThread = download.head.callbackOnUiThread = onUi;
                    const int32_t id = i % 6 == 5 ? net.DownloadFile(&download) : i % 2 ? net.HttpPost(&http) : net.HttpGet(&http);
                    std::lock_guard<std::mutex> guard(recorder.lock);
                    ownerOf[id] = i % 3;
                }
                --submitting;
            });
        }
        // Withdraws a few known requests, or every tenth time all of owner 2's.
        std::mt19937 random(onUi);
        for (int round = 1; submitting > 0; ++round) {
            if (onUi) Until([] { return false; }, true, 1);  // the UI thread, between ticks
            std::vector<int> ids;
            {
                std::lock_guard<std::mutex> guard(recorder.lock);
                for (const auto& [id, owner] : ownerOf) {
                    if (round % 10 ? random() % ownerOf.size() == 0 : owner == 2) ids.push_back(id);
                }
            }
            if (round % 10 == 0) net.CancelOwnerRequests(owners[2]);
            for (const int id : ids) {
                if (round % 10) net.CancelRequest(id);
            }
            std::lock_guard<std::mutex> guard(recorder.lock);
            recorder.withdrawn.insert(ids.begin(), ids.end());
        }
        for (std::thread& submitter : submitters) submitter.join();

        // Owner 2's requests submitted during an owner-wide withdrawal may go either way.
        ASSERT_TRUE(Until([&] {
            const std::set<int> finished = recorder.Finished();
            std::lock_guard<std::mutex> guard(recorder.lock);
            for (const auto& [id, owner] : ownerOf) {
                if (owner != 2 && !recorder.withdrawn.count(id) && !finished.count(id)) return false;
            }
            return true;
        }));
        for (void* owner : owners) net.CancelOwnerRequests(owner);  // the recorder goes next
        EXPECT_EQ(recorder.late, 0);
        EXPECT_EQ(ownerOf.size(), 360u);
        EXPECT_EQ(recorder.Responses(), recorder.Finished().size());  // none twice
        for (const Event& event : recorder.Events()) EXPECT_TRUE(!onUi || event.thread == std::this_thread::get_id());
    }
}
