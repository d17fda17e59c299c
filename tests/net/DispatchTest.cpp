#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <random>
#include <set>

#include "NetTestSupport.h"
#include "TempFolder.h"
#include "net_request/NetRequest.h"

using namespace LiveModule;
using namespace nettest;

namespace {

// Routes shared by these tests: /quick answers at once, /hold waits at the gate (HEAD probes
// excepted), /small is 10 bytes, /stream sends 1 KiB chunks until the client leaves.
struct Routes {
    LocalServer server;
    std::atomic<int> holds{0}, streams{0}, streamsLeftByClient{0};
    Routes() {
        server.http().Get("/quick", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("quick", "text/plain");
        });
        server.http().Get("/small", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("0123456789", "text/plain");
        });
        server.http().Get("/hold", [this](const httplib::Request& request, httplib::Response& response) {
            if (request.method != "HEAD") {
                ++holds;
                server.gate.Pass();
            }
            response.set_content("held", "text/plain");
        });
        server.http().Get("/stream", [this](const httplib::Request& request, httplib::Response& response) {
            streams += request.method != "HEAD";
            response.set_chunked_content_provider("application/octet-stream", [this](size_t, httplib::DataSink& sink) {
                const std::string chunk(1024, 's');
                for (int i = 0; i < 10000; ++i) {
                    if (!sink.write(chunk.data(), chunk.size())) {
                        ++streamsLeftByClient;
                        return false;
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
                return false;
            });
        });
        server.Start();
    }
};

stHttpRequest OnWorker(stHttpRequest request) {
    request.head.callbackOnUiThread = false;
    return request;
}

std::set<int> ResponseIds(Recorder& recorder) {
    std::set<int> ids;
    for (const Event& event : recorder.Events()) {
        if (event.kind == 'R') ids.insert(event.id);
    }
    return ids;
}

}  // namespace

TEST(NetDispatch, RequestsWithdrawnWhileQueuedOrInFlightNeverCallBack) {
    Routes routes;
    NetRequest net;
    net.Initialize();
    Recorder recorder;
    TempFolder folder;
    int otherOwner = 0;
    const auto hold = [&](void* owner = nullptr) {
        stHttpRequest request = OnWorker(HttpRequest(routes.server.Url("/hold"), recorder, owner));
        return net.HttpGet(&request);
    };
    std::vector<int> inFlight;
    for (int i = 0; i < 5; ++i) inFlight.push_back(hold());
    ASSERT_TRUE(routes.server.gate.WaitArrivals(5));
    const int queued = hold(), queuedForOther = hold(&otherOwner), sentinel = hold();
    net.CancelRequest(inFlight[0]);
    net.CancelRequest(queued);
    net.CancelOwnerRequests(&otherOwner);

    stDownloadRequest download = DownloadRequest(routes.server.Url("/stream"), folder / "s.bin", recorder);
    download.head.callbackOnUiThread = false;
    const int streaming = net.DownloadFile(&download);
    ASSERT_TRUE(PumpUntil([&] { return !recorder.Of(streaming, 'B').empty(); }));
    net.CancelRequest(streaming);
    ASSERT_TRUE(PumpUntil([&] { return routes.streamsLeftByClient == 1; }));

    routes.server.gate.Open();
    ASSERT_TRUE(recorder.WaitResponses(5));
    net.Uninitialize();  // joins the workers: whatever was still running has ended
    EXPECT_EQ(ResponseIds(recorder), std::set<int>({inFlight[1], inFlight[2], inFlight[3], inFlight[4], sentinel}));
    EXPECT_EQ(routes.holds, 6);
    EXPECT_FALSE(Exists(folder / "s.bin"));
    EXPECT_TRUE(Exists(folder / "s.bin.download"));
    (void)queuedForOther;
}

TEST(NetDispatch, ResultsWaitingForTheUiThreadAreWithdrawnUntilTheirTaskBegins) {
    Routes routes;
    NetRequest net;
    net.Initialize();
    Recorder ui, stopsItself, barrier;
    TempFolder folder;
    int x = 0, y = 0, z = 0, w = 0;
    const auto get = [&](void* owner) {
        stHttpRequest request = HttpRequest(routes.server.Url("/quick"), ui, owner);
        return net.HttpGet(&request);
    };
    const int a = get(&x), b = get(&y), c = get(&y), e = get(&z);
    stDownloadRequest small = DownloadRequest(routes.server.Url("/small"), folder / "d.bin", ui, &x);
    const int d = net.DownloadFile(&small);
    stopsItself.onEvent = [&](const Event&) { net.CancelOwnerRequests(&w); };
    stDownloadRequest selfStopping = DownloadRequest(routes.server.Url("/small"), folder / "g.bin", stopsItself, &w);
    net.DownloadFile(&selfStopping);
    // Five requests of each kind held together at the server occupy every worker, so every
    // earlier result has been posted for the UI thread, which has not run yet.
    for (int i = 0; i < 5; ++i) {
        stHttpRequest held = OnWorker(HttpRequest(routes.server.Url("/hold"), barrier));
        net.HttpGet(&held);
        stDownloadRequest heldDownload = DownloadRequest(routes.server.Url("/hold"), folder / std::to_string(i), barrier);
        heldDownload.head.callbackOnUiThread = false;
        net.DownloadFile(&heldDownload);
    }
    ASSERT_TRUE(routes.server.gate.WaitArrivals(10));

    net.CancelOwnerRequests(nullptr);
    net.CancelRequest(a);
    net.CancelOwnerRequests(&y);
    net.CancelRequest(d);  // only its first task: the first fraction report
    routes.server.gate.Open();
    ASSERT_TRUE(barrier.WaitResponses(10));
    ASSERT_TRUE(ui.WaitResponses(2));

    EXPECT_EQ(ResponseIds(ui), std::set<int>({d, e}));
    const std::vector<Event> fractions = ui.Of(d, 'P'), bytes = ui.Of(d, 'B');
    ASSERT_EQ(fractions.size() + 1, bytes.size());
    for (size_t i = 0; i < fractions.size(); ++i) EXPECT_EQ(fractions[i].fraction, bytes[i + 1].received / 10.0);
    // The first report withdrew the rest of its own request, though they were in the same tick.
    ASSERT_EQ(stopsItself.Events().size(), 1u);
    EXPECT_EQ(stopsItself.Events()[0].kind, 'P');
    (void)b, (void)c;
}

TEST(NetLifecycle, StopDropsQueuedRunningAndWaitingWorkAndTheServiceCanStartAgain) {
    Routes routes;
    NetRequest net;
    Recorder recorder;
    TempFolder folder;
    stHttpRequest held = HttpRequest(routes.server.Url("/hold"), recorder);
    held.head.timeoutMs = 1000;
    EXPECT_EQ(net.HttpGet(&held), -1);  // not started yet
    EXPECT_TRUE(net.Initialize());
    EXPECT_TRUE(net.Initialize());  // already running: no second set of workers or timer

    for (int i = 0; i < 8; ++i) net.HttpGet(&held);  // five in flight, three queued
    std::vector<int> onUi, onWorker;
    for (int i = 0; i < 7; ++i) {  // five mid-transfer, two queued
        stDownloadRequest stream = DownloadRequest(routes.server.Url("/stream"), folder / std::to_string(i), recorder);
        stream.head.callbackOnUiThread = i % 2 == 0;
        (i % 2 == 0 ? onUi : onWorker).push_back(net.DownloadFile(&stream));
    }
    // No pumping before the stop: the UI-delivered progress stays waiting for the UI thread.
    ASSERT_TRUE(routes.server.gate.WaitArrivals(5));
    ASSERT_TRUE(WaitWithoutUi([&] { return routes.streams == 5; }));
    for (int id : onWorker) {
        if (id == onWorker.back()) break;  // queued
        ASSERT_TRUE(WaitWithoutUi([&] { return !recorder.Of(id, 'B').empty(); }));
    }

    net.Uninitialize();
    const size_t delivered = recorder.Events().size();
    PumpFor(300);
    EXPECT_EQ(recorder.Events().size(), delivered);
    for (int id : onUi) EXPECT_TRUE(recorder.Of(id, 'B').empty() && recorder.Of(id, 'P').empty());
    EXPECT_EQ(recorder.Responses(), 0u);
    EXPECT_TRUE(PumpUntil([&] { return routes.streamsLeftByClient == 5; }));  // aborted, not run out

    EXPECT_EQ(net.HttpGet(&held), -1);
    stHttpRequest here = HttpRequest(routes.server.Url("/quick"), recorder);
    here.head.isAsync = false;
    EXPECT_EQ(net.HttpGet(&here), -1);
    net.Uninitialize();

    EXPECT_TRUE(net.Initialize());
    stHttpRequest quick = HttpRequest(routes.server.Url("/quick"), recorder);
    const int id = net.HttpGet(&quick);
    ASSERT_TRUE(recorder.WaitResponses(1));
    EXPECT_EQ(recorder.Of(id, 'R').at(0).text, "quick");
}

namespace {

// Counts the callbacks of each id and those that start after their withdrawal returned.
struct Tracker {
    std::mutex lock;
    std::map<int, int> calls, ownerOf;
    std::set<int> withdrawn;
    std::vector<int> submitted;
    int late = 0;
    std::set<std::thread::id> threads;

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
    Routes routes;
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
                    stRequestHead head;
                    const std::string url = routes.server.Url(i % 6 == 5 ? "/small" : "/quick");
                    head.url = url.c_str();
                    head.owner = owners[i % 3];
                    head.callbackOnUiThread = onUi;
                    head.userData = &tracker;
                    int id;
                    if (i % 6 == 5) {
                        const std::string path = folder / (std::to_string(onUi) + "-" + std::to_string(t) + "-" + std::to_string(i));
                        stDownloadRequest download;
                        download.head = head;
                        download.savePath = path.c_str();
                        download.onResponse = &Tracker::OnResponse;
                        id = net.DownloadFile(&download);
                    } else {
                        stHttpRequest http;
                        http.head = head;
                        http.onResponse = &Tracker::OnResponse;
                        id = i % 2 ? net.HttpPost(&http) : net.HttpGet(&http);
                    }
                    std::lock_guard<std::mutex> guard(tracker.lock);
                    tracker.submitted.push_back(id);
                    tracker.ownerOf[id] = i % 3;
                }
                --submitting;
            });
        }
        // Withdraws one random request, or every tenth time all of owner 2's.
        std::mt19937 random(onUi ? 2 : 1);
        int round = 0;
        const auto withdrawSome = [&] {
            std::vector<int> ids;
            {
                std::lock_guard<std::mutex> guard(tracker.lock);
                if (tracker.submitted.empty()) return;
                if (++round % 10 != 0) ids.push_back(tracker.submitted[random() % tracker.submitted.size()]);
                for (const auto& [id, owner] : tracker.ownerOf) {
                    if (round % 10 == 0 && owner == 2) ids.push_back(id);
                }
            }
            if (round % 10 == 0) {
                net.CancelOwnerRequests(owners[2]);
            } else {
                net.CancelRequest(ids[0]);
            }
            std::lock_guard<std::mutex> guard(tracker.lock);
            tracker.withdrawn.insert(ids.begin(), ids.end());
        };
        if (onUi) {
            // Between ticks: a task the UI thread has begun always runs to its end.
            while (submitting > 0) {
                PumpFor(1);
                withdrawSome();
            }
        } else {
            std::thread canceller([&] {
                while (submitting > 0) withdrawSome();
            });
            canceller.join();
        }
        for (std::thread& submitter : submitters) submitter.join();

        // Owner 2's requests submitted during an owner-wide withdrawal may go either way.
        const auto allDelivered = [&] {
            std::lock_guard<std::mutex> guard(tracker.lock);
            for (const int id : tracker.submitted) {
                if (tracker.ownerOf[id] != 2 && !tracker.withdrawn.count(id) && tracker.calls[id] != 1) return false;
            }
            return true;
        };
        ASSERT_TRUE(PumpUntil(allDelivered, 60000)) << "ui: " << onUi;
        for (void* owner : owners) net.CancelOwnerRequests(owner);  // the tracker goes next
        std::lock_guard<std::mutex> guard(tracker.lock);
        EXPECT_EQ(tracker.late, 0) << "ui: " << onUi;
        for (const auto& [id, count] : tracker.calls) EXPECT_LE(count, 1) << id;
        EXPECT_EQ(tracker.submitted.size(), 360u);
        if (onUi) {
            EXPECT_EQ(tracker.threads, std::set<std::thread::id>({std::this_thread::get_id()}));
        }
    }
}
