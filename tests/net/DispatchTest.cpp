#include "NetTestSupport.h"

TEST_F(Net, RequestsWithdrawnWhileQueuedInFlightOrWaitingForTheUiThreadNeverCallBack) {
    Recorder selfStopping;
    int x = 0, y = 0, z = 0, w = 0, other = 0;
    selfStopping.onReport = [&](const std::string&) { net.CancelOwnerRequests(&w); };
    const auto get = [&](const char* path, void* owner, bool onUi) {
        stHttpRequest request = Http(server.Url(path), owner == &w ? selfStopping : recorder, owner);
        request.head.callbackOnUiThread = onUi;
        return net.HttpGet(&request);
    };
    std::vector<int> ids;  // six for the UI thread, not pumped yet, then eight held on the workers
    for (int* owner : {&x, &y, &y, &w, &w, &z}) ids.push_back(get("/quick", owner, true));
    for (int i = 0; i < 8; ++i) ids.push_back(get("/hold", i == 6 ? &other : &z, false));
    ASSERT_TRUE(Until([&] { return server.held == 5; }, false));  // so every earlier result waits for the UI
    net.CancelRequest(ids[0]);
    net.CancelOwnerRequests(&y);
    net.CancelRequest(ids[6]);  // in flight
    net.CancelRequest(ids[11]);  // queued
    net.CancelOwnerRequests(&other);  // queued
    server.released = true;
    ASSERT_TRUE(Until([&] { return recorder.Finished().size() == 6 && !selfStopping.Finished().empty(); }));
    net.Uninitialize();  // joins the workers: whatever was still running has ended
    EXPECT_EQ(recorder.Finished(), std::multiset<int>({ids[5], ids[7], ids[8], ids[9], ids[10], ids[13]}));
    EXPECT_EQ(selfStopping.Finished().size(), 1u);  // its callback withdrew the other, due in the same tick
}

TEST_F(Net, StopDropsQueuedRunningAndWaitingWorkPromptlyAndTheServiceStartsAgain) {
    stHttpRequest held = Http(server.Url("/hold"), recorder), here = Http(server.Url("/quick"), recorder);
    held.head.timeoutMs = 1000;
    for (int i = 0; i < 8; ++i) net.HttpGet(&held);  // five in flight, three queued
    std::vector<int> streams;
    for (int i = 0; i < 7; ++i) {  // five mid-transfer (three delivering on the UI thread), two queued
        stDownloadRequest stream = Download(server.Url("/stream"), folder / std::to_string(i), recorder);
        stream.head.callbackOnUiThread = i % 2 == 0;
        streams.push_back(net.DownloadFile(&stream));
    }
    // Not pumped: the UI-delivered progress waits for the UI thread.
    ASSERT_TRUE(Until([&] { return server.held >= 5 && server.streams == 5 && recorder.Of(streams[1]) != ""; }, false)) << server.held << " " << server.streams << " " << recorder.Of(streams[1]);
    net.CancelRequest(streams[1]);  // withdrawn in flight: aborted at its next chunk, and the sixth begins
    ASSERT_TRUE(Until([&] { return server.streamsLeft == 1 && server.streams == 6; }, false));
    const auto start = steady_clock::now();
    net.Uninitialize();
    EXPECT_LT(steady_clock::now() - start, seconds(3));  // the held GETs give up after their 1 s
    recorder.withdrawn.insert(0);  // from now on every callback is late
    EXPECT_TRUE(Until([&] { return server.streamsLeft == 6; }));  // aborted, none ran to its end
    EXPECT_EQ(net.HttpGet(&held), -1);

    EXPECT_TRUE(net.Initialize());
    const int32_t again = net.HttpGet(&here);
    ASSERT_TRUE(Until([&] { return recorder.Finished().size() == 1; }));  // on workers and a timer anew
    Until([] { return false; }, true, 200);  // and nothing queued before the stop comes
    EXPECT_EQ(recorder.Of(again), "R0 |quick");
    EXPECT_EQ(recorder.late, 1);  // that result alone came after the stop
}

TEST_F(Net, ManySubmittersAndCancellersLoseNothingAndNeverCallBackLate) {
    for (const bool onUi : {false, true}) {
        Recorder recorder;
        std::vector<int> submitted;  // guarded by recorder.lock
        const auto submit = [&](int thread) {
            for (int i = 0; i < 120; ++i) {
                stHttpRequest http = Http(server.Url("/quick"), recorder);
                http.head.callbackOnUiThread = onUi;
                const std::string path = folder / std::to_string(onUi * 1000 + thread * 120 + i);
                // With progress reports: a withdrawal must take every queued report of a download too.
                stDownloadRequest download = Download(server.Url("/quick"), path, recorder);
                download.head = http.head;
                const int32_t id = i % 6 == 5 ? net.DownloadFile(&download) : i % 2 ? net.HttpPost(&http) : net.HttpGet(&http);
                std::lock_guard<std::mutex> guard(recorder.lock);
                submitted.push_back(id);
            }
        };
        Concurrently(3, submit, [&] {  // here, between UI ticks: withdraws any of the requests known so far
            if (onUi) Until([] { return false; }, true, 1);
            std::unique_lock<std::mutex> guard(recorder.lock);
            const int id = submitted.empty() ? -1 : submitted[rand() % submitted.size()];
            guard.unlock();
            net.CancelRequest(id);
            guard.lock();
            recorder.withdrawn.insert(id);
        });
        ASSERT_TRUE(Until([&] {
            const std::multiset<int> finished = recorder.Finished();
            std::lock_guard<std::mutex> guard(recorder.lock);
            return std::all_of(submitted.begin(), submitted.end(),
                               [&](int id) { return finished.count(id) || recorder.withdrawn.count(id); });
        }));
        net.CancelOwnerRequests(&recorder);  // the recorder goes next
        const std::multiset<int> finished = recorder.Finished();
        EXPECT_EQ(recorder.late, 0);
        EXPECT_EQ(std::set<int>(finished.begin(), finished.end()).size(), finished.size());  // none twice
        EXPECT_TRUE(!onUi || recorder.away == 0);
    }
}
