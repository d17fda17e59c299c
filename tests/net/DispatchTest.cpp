#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "NetTestSupport.h"
#include "TempFolder.h"
#include "net_request/NetRequest.h"

using namespace LiveModule;
using namespace nettest;

namespace {

// /quick answers at once, /hold waits until released (HEAD probes excepted), /stream sends 1 KiB
// every 2 ms until the client leaves, counting how streams end.
struct Routes : Server {
    std::atomic<int> streams{0}, streamsLeft{0};
    Routes() {
        http->Get("/quick", [](const httplib::Request&, httplib::Response& r) { r.set_content("quick", "text/plain"); });
        http->Get("/hold", [this](const httplib::Request& request, httplib::Response& response) {
            if (request.method != "HEAD") Hold();
            response.set_content("held", "text/plain");
        });
        http->Get("/stream", [this](const httplib::Request& request, httplib::Response& response) {
            streams += request.method != "HEAD";
            response.set_chunked_content_provider("text/plain", [this](size_t offset, httplib::DataSink& sink) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));  // about 20 s in all
                if (sink.write(std::string(1024, 's').data(), 1024)) return offset < (10 << 20);
                ++streamsLeft;
                return false;
            });
        });
        Start();
    }
};

int32_t Get(NetRequest& net, stHttpRequest request, bool onUi = true) {
    request.head.callbackOnUiThread = onUi;
    return net.HttpGet(&request);
}

std::set<int> Finished(Recorder& recorder) {
    std::set<int> ids;
    for (const Event& event : recorder.Events(0, 'R')) ids.insert(event.id);
    return ids;
}

}  // namespace

TEST(NetDispatch, RequestsWithdrawnWhileQueuedOrInFlightNeverCallBack) {
    Routes server;
    NetRequest net;
    net.Initialize();
    Recorder recorder;
    TempFolder folder;
    int other = 0;
    std::vector<int> ids;
    for (int i = 0; i < 8; ++i) ids.push_back(Get(net, Http(server.Url("/hold"), recorder, i == 6 ? &other : nullptr), false));
    ASSERT_TRUE(Until([&] { return server.held == 5; }, false));
    net.CancelRequest(ids[0]);  // in flight
    net.CancelRequest(ids[5]);  // queued
    net.CancelOwnerRequests(&other);
    stDownloadRequest download = Download(server.Url("/stream"), folder / "s", recorder);
    download.head.callbackOnUiThread = false;
    const int32_t streaming = net.DownloadFile(&download);
    ASSERT_TRUE(Until([&] { return !recorder.Events(streaming, 'B').empty(); }));
    net.CancelRequest(streaming);  // aborted at its next chunk
    ASSERT_TRUE(Until([&] { return server.streamsLeft == 1; }));

    server.released = true;
    ASSERT_TRUE(Until([&] { return recorder.Responses() == 5; }));
    net.Uninitialize();  // joins the workers: whatever was still running has ended
    EXPECT_EQ(Finished(recorder), std::set<int>({ids[1], ids[2], ids[3], ids[4], ids[7]}));
    EXPECT_EQ(server.held, 6);
    EXPECT_TRUE(std::filesystem::exists(folder / "s.download") && !std::filesystem::exists(folder / "s"));
}

TEST(NetDispatch, ResultsWaitingForTheUiThreadAreWithdrawnUntilTheirTaskBegins) {
    Routes server;
    NetRequest net;
    net.Initialize();
    Recorder ui, selfStopping, barrier;
    TempFolder folder;
    int x = 0, y = 0, z = 0, w = 0;
    const int a = Get(net, Http(server.Url("/quick"), ui, &x)), e = Get(net, Http(server.Url("/quick"), ui, &z));
    Get(net, Http(server.Url("/quick"), ui, &y));
    Get(net, Http(server.Url("/quick"), ui, &y));
    const stDownloadRequest small = Download(server.Url("/quick"), folder / "d", ui, &x);
    const int d = net.DownloadFile(&small);
    selfStopping.onEvent = [&](const Event&) { net.CancelOwnerRequests(&w); };
    const stDownloadRequest stopping = Download(server.Url("/quick"), folder / "g", selfStopping, &w);
    net.DownloadFile(&stopping);
    // Every worker of both kinds held at once: all earlier results wait for the UI thread.
    for (int i = 0; i < 5; ++i) {
        Get(net, Http(server.Url("/hold"), barrier), false);
        stDownloadRequest held = Download(server.Url("/hold"), folder / std::to_string(i), barrier);
        held.head.callbackOnUiThread = false;
        net.DownloadFile(&held);
    }
    ASSERT_TRUE(Until([&] { return server.held == 10; }, false));

    net.CancelOwnerRequests(nullptr);  // changes nothing
    net.CancelRequest(a);
    net.CancelOwnerRequests(&y);
    net.CancelRequest(d);  // only its first task: the first fraction
    server.released = true;
    ASSERT_TRUE(Until([&] { return barrier.Responses() == 10 && ui.Responses() == 2; }));
    EXPECT_EQ(Finished(ui), std::set<int>({d, e}));
    const std::vector<Event> fractions = ui.Events(d, 'P'), bytes = ui.Events(d, 'B');
    ASSERT_EQ(fractions.size() + 1, bytes.size());
    for (size_t i = 0; i < fractions.size(); ++i) EXPECT_EQ(fractions[i].fraction, bytes[i + 1].received / 5.0);
    // Its first report withdrew the rest of its request, queued in the same tick.
    ASSERT_EQ(selfStopping.Events().size(), 1u);
    EXPECT_EQ(selfStopping.Events()[0].kind, 'P');
}

TEST(NetLifecycle, StopDropsQueuedRunningAndWaitingWorkAndTheServiceStartsAgain) {
    Routes server;
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

    net.Uninitialize();
    const size_t delivered = recorder.Events().size();
    EXPECT_EQ(delivered, recorder.Events(onWorker[0]).size() + recorder.Events(onWorker[1]).size());
    EXPECT_EQ(recorder.Responses(), 0u);
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

namespace {

// Counts the callbacks of each request and those that start after their withdrawal returned.
struct Tracker {
    std::mutex lock;
    std::map<int, int> calls, ownerOf;
    std::set<int> withdrawn;
    std::set<std::thread::id> threads;
    int late = 0;
    static void OnResponse(const stResponseInfo& info, const char*) {
        auto* tracker = static_cast<Tracker*>(info.userData);
        std::lock_guard<std::mutex> guard(tracker->lock);
        ++tracker->calls[info.id];
        tracker->late += tracker->withdrawn.count(info.id);
        tracker->threads.insert(std::this_thread::get_id());
    }
};

}  // namespace

TEST(NetConcurrency, ManySubmittersAndCancellersLoseNothingAndNeverCallBackLate) {
    Routes server;
    NetRequest net;
    net.Initialize();
    TempFolder folder;
    void* owners[3] = {&owners[0], &owners[1], &owners[2]};
    for (const bool onUi : {false, true}) {
        Tracker tracker;
        std::atomic<int> submitting{3};
        std::vector<std::thread> submitters;
        for (int t = 0; t < 3; ++t) {
            submitters.emplace_back([&, t] {
                for (int i = 0; i < 120; ++i) {
                    Recorder unused;
                    stDownloadRequest download = Download(server.Url("/quick"), folder / (std::to_string(onUi * 10 + t) + "-" + std::to_string(i)), unused, owners[i % 3]);
                    download.head.callbackOnUiThread = onUi;
                    download.head.userData = &tracker;
                    download.onResponse = &Tracker::OnResponse;
                    download.onProgress = nullptr;
                    download.onByteProgress = nullptr;
                    stHttpRequest http = {download.head, 78, {}, {}, {}, &Tracker::OnResponse};
                    const int32_t id = i % 6 == 5 ? net.DownloadFile(&download) : i % 2 ? net.HttpPost(&http) : net.HttpGet(&http);
                    std::lock_guard<std::mutex> guard(tracker.lock);
                    tracker.ownerOf[id] = i % 3;
                }
                --submitting;
            });
        }
        // Withdraws one known request, or every tenth time all of owner 2's.
        std::mt19937 random(onUi);
        for (int round = 1; submitting > 0; ++round) {
            if (onUi) Until([] { return false; }, true, 1);  // UI thread: between ticks
            std::vector<int> ids;
            {
                std::lock_guard<std::mutex> guard(tracker.lock);
                for (const auto& [id, owner] : tracker.ownerOf) {
                    if (round % 10 ? random() % tracker.ownerOf.size() == 0 : owner == 2) ids.push_back(id);
                }
            }
            if (round % 10 == 0) net.CancelOwnerRequests(owners[2]);
            for (const int id : ids) {
                if (round % 10) net.CancelRequest(id);
            }
            std::lock_guard<std::mutex> guard(tracker.lock);
            tracker.withdrawn.insert(ids.begin(), ids.end());
        }
        for (std::thread& submitter : submitters) submitter.join();

        // Owner 2's requests submitted during an owner-wide withdrawal may go either way.
        ASSERT_TRUE(Until([&] {
            std::lock_guard<std::mutex> guard(tracker.lock);
            for (const auto& [id, owner] : tracker.ownerOf) {
                if (owner != 2 && !tracker.withdrawn.count(id) && tracker.calls[id] != 1) return false;
            }
            return true;
        }));
        for (void* owner : owners) net.CancelOwnerRequests(owner);  // the tracker goes next
        std::lock_guard<std::mutex> guard(tracker.lock);
        EXPECT_EQ(tracker.late, 0);
        EXPECT_EQ(tracker.ownerOf.size(), 360u);
        for (const auto& [id, count] : tracker.calls) EXPECT_LE(count, 1) << id;
        EXPECT_TRUE(!onUi || tracker.threads == std::set<std::thread::id>({std::this_thread::get_id()}));
    }
}
