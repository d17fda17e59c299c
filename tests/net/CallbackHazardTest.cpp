#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include "NetTestSupport.h"
#include "net_request/RequestClient.h"

namespace {

// Accepts connections on 127.0.0.1 and never answers; counts them in `accepted`.
struct Silent {
    Silent() {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener, 64);
        socklen_t size = sizeof address;
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
        url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
        acceptor = std::thread([this] {
            for (int client; (client = accept(listener, nullptr, nullptr)) >= 0; ++accepted) clients.push_back(client);
        });
    }
    ~Silent() {
        shutdown(listener, SHUT_RDWR);  // ends accept
        acceptor.join();
        close(listener);
        for (int client : clients) close(client);
    }
    int listener;
    std::string url;
    std::atomic<int> accepted{0};
    std::vector<int> clients;  // the acceptor's until it ends
    std::thread acceptor;
};

std::string Gzip(const std::string& text) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);  // 31: gzip wrapper
    std::string out(compressBound(text.size()) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = text.size();
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = out.size();
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// Serves /file: 3000 bytes of application data in three writes.
void FileRoute(httplib::Server& http) {
    http.Get("/file", [](auto&, auto& response) {
        response.set_content_provider(3000, "application/octet-stream", [](size_t, size_t, httplib::DataSink& sink) {
            return sink.write(std::string(1000, 'f').data(), 1000);
        });
    });
}

}  // namespace

TEST_F(Net, WithdrawingADownloadRemovesEveryQueuedReportAndFreesNoContextInUse) {
    Server files(FileRoute);
    for (const bool throughClient : {false, true}) {
        // Keeps four download workers busy, so the fifth runs the download, then a probe.
        std::atomic<int> held{0};
        std::atomic<bool> release{false};
        Server holder([&](httplib::Server& http) {
            http.Get("/held", [&](const httplib::Request& request, httplib::Response& response) {
                if (request.method != "HEAD") ++held, Until([&] { return release.load(); }, false);
                response.set_content("held", "application/octet-stream");
            });
        });
        int heldOwner = 0, clientOwner = 0;
        for (int i = 0; i < 4; ++i) {
            const stDownloadRequest request = Download(holder.Url("/held"), folder / ("held" + std::to_string(i)), recorder, &heldOwner);
            net.DownloadFile(&request);
        }
        ASSERT_TRUE(Until([&] { return held == 4; }, false));
        const auto token = std::make_shared<int>();  // every context holds a copy
        RequestClient client(&net, &clientOwner);
        const std::string path = folder / ("file" + std::to_string(throughClient));
        int32_t id;
        if (throughClient) {
            DownloadRequestParams params;
            params.url = files.Url("/file");
            params.savePath = path;
            params.onFinished = [&, token](const FileOperationRes& r) { recorder.Add(r.id, "R"); };
            params.onProgress = [&, token](int i, double) { recorder.Add(i, "P"); };
            params.onByteProgress = [&, token](int i, long long, long long) { recorder.Add(i, "B"); };
            id = client.Download(params);
        } else {
            const stDownloadRequest request = Download(files.Url("/file"), path, recorder);
            id = net.DownloadFile(&request);
        }
        // Delivered on the worker once the download has queued all its reports.
        stDownloadRequest probe = Download(server.Url("/quick"), folder / "probe", recorder);
        probe.head.callbackOnUiThread = false;
        probe.onProgress = nullptr;
        probe.onByteProgress = nullptr;
        const int32_t probeId = net.DownloadFile(&probe);
        ASSERT_TRUE(Until([&] { return recorder.Of(probeId) != ""; }, false));
        ASSERT_EQ(ReadFile(path), std::string(3000, 'f'));

        throughClient ? client.Cancel(id) : net.CancelRequest(id);
        recorder.withdrawn.insert(id);
        EXPECT_EQ(token.use_count(), 1);  // freed at once: nothing queued can reach it
        const stHttpRequest after = Http(server.Url("/quick"), recorder);  // queued behind every report
        const int32_t afterId = net.HttpGet(&after);
        ASSERT_TRUE(Until([&] { return recorder.Of(afterId) != ""; }));
        EXPECT_EQ(recorder.Of(id), "") << (throughClient ? "RequestClient" : "INetRequest");
        net.CancelOwnerRequests(&heldOwner);
        release = true;
    }
    EXPECT_EQ(recorder.late, 0);
}

TEST_F(Net, ACallbackWithdrawingItsOwnRequestRunsToItsEndAndNothingOfThatRequestFollows) {
    Server files(FileRoute);
    for (const bool onUi : {true, false}) {
        int owner = 0;
        RequestClient client(&net, &owner);
        const std::string captured(64, 'c');  // read after the withdrawal, from the function's own copy
        DownloadRequestParams params;
        params.url = files.Url("/file");
        params.callbackOnUiThread = onUi;
        params.savePath = folder / "own";
        params.onFinished = [&](const FileOperationRes& r) { recorder.Add(r.id, "R"); };
        params.onProgress = [&, captured](int i, double) {
            client.Cancel(i);
            recorder.Add(i, "P" + captured.substr(0, 1));
        };
        params.onByteProgress = [&](int i, long long, long long) { recorder.Add(i, "B"); };
        const int32_t id = client.Download(params);
        ASSERT_TRUE(Until([&] { return recorder.Of(id) != ""; }));
        const stHttpRequest after = Http(server.Url("/quick"), recorder);
        const int32_t afterId = net.HttpGet(&after);
        ASSERT_TRUE(Until([&] { return recorder.Of(afterId) != ""; }));
        EXPECT_EQ(recorder.Of(id), "Pc") << (onUi ? "on the UI thread" : "on a worker");
    }
}

// Every callback of these requests submits a GET and a download (alternately delivered on workers and
// on the UI thread) while the budget lasts, and withdraws a request submitted earlier, or all of a
// side owner's. A callback that starts after its request's withdrawal returned counts as late.
namespace {

struct Storm {
    Storm(NetRequest* net, Recorder* recorder, std::string url, std::string folder)
        : net(net), recorder(recorder), url(std::move(url)), folder(std::move(folder)) {}
    NetRequest* net;
    Recorder* recorder;
    std::string url, folder;
    std::atomic<int> budget{2000}, steps{0}, submitted{0};
    std::vector<int> ids, sideIds;  // guarded by recorder->lock
    int side = 0;

    void Submit(bool download, bool onUi, bool forSide) {
        if (--budget < 0) return;
        const int n = ++submitted;
        void* owner = forSide ? static_cast<void*>(&side) : static_cast<void*>(this);
        const stRequestHead head{recorder->Keep(url), 3000, true, owner, onUi, this};
        int32_t id;
        if (download) {
            const std::string path = folder + "/" + std::to_string(n);
            const stDownloadRequest request{head, 75, true, 3600, 1, recorder->Keep(path), &OnResponse, &OnProgress, &OnBytes};
            id = net->DownloadFile(&request);
        } else {
            const stHttpRequest request{head, 78, {}, {}, {}, &OnResponse};
            id = n % 2 ? net->HttpGet(&request) : net->HttpPost(&request);
        }
        std::lock_guard<std::mutex> guard(recorder->lock);
        (forSide ? sideIds : ids).push_back(id);
    }
    void Step(int id, const std::string& report, bool final) {
        recorder->Add(id, report);
        const int step = ++steps;
        if (final) {
            Submit(false, step % 2, step % 7 == 0);
            Submit(true, step % 3 == 0, step % 5 == 0);
        }
        std::unique_lock<std::mutex> guard(recorder->lock);
        if (step % 50 == 0) {
            const std::vector<int> known = sideIds;
            guard.unlock();
            net->CancelOwnerRequests(&side);
            guard.lock();
            recorder->withdrawn.insert(known.begin(), known.end());
        } else if (step % 3 == 0 && !ids.empty()) {
            const int victim = ids[(step * 7919) % ids.size()];
            guard.unlock();
            net->CancelRequest(victim);
            guard.lock();
            recorder->withdrawn.insert(victim);
        }
    }
    bool Settled() {
        const std::multiset<int> finished = recorder->Finished();
        std::lock_guard<std::mutex> guard(recorder->lock);
        const auto done = [&](int id) { return finished.count(id) || recorder->withdrawn.count(id); };
        return budget <= 0 && std::all_of(ids.begin(), ids.end(), done) && std::all_of(sideIds.begin(), sideIds.end(), done);
    }
    static void OnResponse(const stResponseInfo& info, const char*) {
        static_cast<Storm*>(info.userData)->Step(info.id, "R" + std::to_string(info.errorCode), true);
    }
    static void OnProgress(int id, double, void* storm) { static_cast<Storm*>(storm)->Step(id, "P", false); }
    static void OnBytes(int id, long long, long long, void* storm) { static_cast<Storm*>(storm)->Step(id, "B", false); }
};

}  // namespace

TEST_F(Net, CallbacksOnWorkersAndTheUiThreadSubmitAndWithdrawBothKindsWithoutDeadlockOrLateCallbacks) {
    Storm storm{&net, &recorder, server.Url("/quick"), folder.path()};
    for (int i = 0; i < 8; ++i) storm.Submit(i % 2, i % 4 < 2, i == 0);
    ASSERT_TRUE(Until([&] { return storm.Settled(); }, true, 120000)) << storm.steps << " steps";
    net.CancelOwnerRequests(&storm);
    net.CancelOwnerRequests(&storm.side);
    const std::multiset<int> finished = recorder.Finished();
    EXPECT_EQ(recorder.late, 0);
    EXPECT_EQ(std::set<int>(finished.begin(), finished.end()).size(), finished.size());  // none twice
    EXPECT_GT(finished.size(), 1000u);
    EXPECT_EQ(std::count(storm.ids.begin(), storm.ids.end(), -1), 0);
}

namespace {

// A service whose callbacks stop it.
struct Stopping {
    NetRequest net;
    std::atomic<int> calls{0};
    std::atomic<bool> returned{false};
};

void StopFromCallback(void* data) {
    auto* self = static_cast<Stopping*>(data);
    ++self->calls;
    self->net.Uninitialize();
    self->returned = true;
}

}  // namespace

TEST(NetStop, FromAnyCallbackReturnsAbortsWhatNeverAnswersAndTheServiceStartsAgain) {
    Silent silent;
    Server files(FileRoute);
    struct Case { const char* name; bool download, onUi; };
    for (const Case c : {Case{"GET on a worker", false, false}, Case{"GET on the UI thread", false, true},
                         Case{"download progress on a worker", true, false},
                         Case{"download progress on the UI thread", true, true}}) {
        Stopping stopping;
        stopping.net.Initialize();
        int owner = 0;
        // Three GETs without a time limit that no server answers, which the stop must abort.
        const stHttpRequest stuck{{silent.url.c_str(), 0, true, &owner, true, nullptr}, 78, {}, {}, {}, nullptr};
        const int before = silent.accepted;
        for (int i = 0; i < 3; ++i) stopping.net.HttpGet(&stuck);
        ASSERT_TRUE(Until([&] { return silent.accepted == before + 3; }, false));
        const std::string url = c.download ? files.Url("/file") : files.Url("/quick"), path = "/tmp/lm-net-stop-" + std::to_string(getpid());
        stRequestHead head{url.c_str(), 3000, true, &owner, c.onUi, &stopping};
        int32_t id;
        if (c.download) {
            const stDownloadRequest request{head, 75, true, 3600, 1, path.c_str(), nullptr,
                                            [](int, double, void* d) { StopFromCallback(d); }, nullptr};
            id = stopping.net.DownloadFile(&request);
        } else {
            const stHttpRequest request{head, 78, {}, {}, {}, [](const stResponseInfo& i, const char*) { StopFromCallback(i.userData); }};
            id = stopping.net.HttpGet(&request);
        }
        ASSERT_GT(id, 0);
        ASSERT_TRUE(Until([&] { return stopping.returned.load(); }, true, 10000)) << c.name;
        Until([] { return false; }, true, 50);  // reports queued before the stop must not come
        EXPECT_EQ(stopping.calls, 1) << c.name;
        EXPECT_EQ(stopping.net.HttpGet(&stuck), -1) << c.name;
        EXPECT_TRUE(stopping.net.Initialize());
        Recorder again;
        const stHttpRequest quick = Http(files.Url("/quick"), again);
        const int32_t quickId = stopping.net.HttpGet(&quick);
        EXPECT_TRUE(Until([&] { return again.Of(quickId) == "R0 |quick"; })) << c.name;
        unlink(path.c_str());
    }  // the destructor joins the worker that stopped the service
}

TEST(NetStop, AbortsGetsAndPostsInFlightAtOnceWhateverTheirTimeLimit) {
    Silent silent;
    Recorder recorder;
    NetRequest net;
    net.Initialize();
    for (int i = 0; i < 6; ++i) {  // five in flight, one queued
        stHttpRequest request = Http(silent.url, recorder);
        request.head.timeoutMs = 0;  // no limit
        i % 2 ? net.HttpPost(&request) : net.HttpGet(&request);
    }
    std::atomic<int32_t> synchronous{0};
    std::thread caller([&] {
        stHttpRequest request = Http(silent.url, recorder);
        request.head.timeoutMs = 0;
        request.head.isAsync = false;
        synchronous = net.HttpGet(&request);
    });
    ASSERT_TRUE(Until([&] { return silent.accepted == 6; }, false));
    const auto start = steady_clock::now();
    net.Uninitialize();
    EXPECT_LT(steady_clock::now() - start, seconds(2));  // without the abort: never
    caller.join();
    EXPECT_EQ(synchronous, -1);
    EXPECT_EQ(recorder.Of(*recorder.Finished().begin()), "R-1002 " + WideToChs(L"网络请求失败") + "|");
    EXPECT_EQ(recorder.Finished().size(), 1u);  // only the synchronous one reports
}

TEST_F(Net, AnIdleServiceLeavesTheUiLoopAsleepWithNothingDueAndNothingReady) {
    const stHttpRequest quick = Http(server.Url("/quick"), recorder);
    for (int i = 0; i < 20; ++i) net.HttpGet(&quick);
    ASSERT_TRUE(Until([&] { return recorder.Finished().size() == 20; }));
    GMainContext* context = g_main_context_default();
    ASSERT_TRUE(g_main_context_acquire(context));
    for (int round = 0; round < 3; ++round) {
        gint priority = 0, timeout = 0;
        const gboolean ready = g_main_context_prepare(context, &priority);
        GPollFD fds[64];
        const gint count = g_main_context_query(context, priority, &timeout, fds, 64);
        g_main_context_check(context, priority, fds, std::min(count, 64));
        EXPECT_FALSE(ready);
        EXPECT_EQ(timeout, -1);  // sleeps until woken: no timer of the service
    }
    g_main_context_release(context);
}

TEST_F(Net, RequestsReuseConnectionsSayTheyAreCurlAndTakeCompressedAnswers) {
    const std::string text = std::string(4000, 'z') + "end";
    Server gz([&](httplib::Server& http) {  // compresses whatever the client says it accepts
        http.Get("/gz", [&](auto&, auto& response) {
            response.set_content(Gzip(text), "application/octet-stream");
            response.set_header("Content-Encoding", "gzip");
        });
    });
    const stHttpRequest quick = Http(server.Url("/quick"), recorder);
    for (int i = 0; i < 40; ++i) net.HttpGet(&quick);
    ASSERT_TRUE(Until([&] { return recorder.Finished().size() == 40; }));
    EXPECT_LE(server.Connections(), 5u);  // one per worker at most
    stKeyValue mine[] = {{"User-Agent", "mine/1"}};
    stHttpRequest own = Http(server.Url("/quick"), recorder);
    own.head.isAsync = false;
    own.headers = {1, mine};
    net.HttpGet(&own);
    const std::string agent = std::string("curl/") + curl_version_info(CURLVERSION_NOW)->version;
    const std::set<std::string> agents = server.Agents();
    ASSERT_EQ(agents.size(), 2u);
    EXPECT_EQ(agents.begin()->rfind(agent + " ", 0), 0u) << *agents.begin();
    EXPECT_NE(agents.begin()->find("gzip"), std::string::npos);
    EXPECT_EQ(agents.rbegin()->rfind("mine/1 ", 0), 0u);

    stHttpRequest get = Http(gz.Url("/gz"), recorder);
    get.head.isAsync = false;
    EXPECT_GT(net.HttpGet(&get), 0);
    EXPECT_EQ(recorder.Of(*recorder.Finished().rbegin()), "R0 |" + text);
    stDownloadRequest download = Download(gz.Url("/gz"), folder / "gz", recorder);
    download.head.isAsync = false;
    EXPECT_GT(net.DownloadFile(&download), 0);
    EXPECT_EQ(ReadFile(folder / "gz"), text);  // decoded on disk
}

namespace {

// Two requests whose callbacks, once both run at the same time, withdraw each other's request.
struct Crossing {
    std::atomic<int32_t> ids[2] = {{0}, {0}};
    std::atomic<int> arrived{0}, returned{0};
    NetRequest* net = nullptr;
    int owner = 0;
};

void CrossOnce(const stResponseInfo& info, const char*) {
    auto* crossing = static_cast<Crossing*>(info.userData);
    ++crossing->arrived;
    Until([&] { return crossing->arrived == 2 && crossing->ids[0] > 0 && crossing->ids[1] > 0; }, false, 10000);
    crossing->net->CancelRequest(info.id == crossing->ids[0] ? crossing->ids[1] : crossing->ids[0]);
    ++crossing->returned;
}

}  // namespace

TEST_F(Net, TwoCallbacksWithdrawingEachOthersRequestAtOnceBothReturn) {
    for (const bool secondOnUi : {false, true}) {  // two workers; a worker and the UI thread
        Crossing crossing;
        crossing.net = &net;
        for (int i = 0; i < 2; ++i) {
            const stHttpRequest request{{recorder.Keep(server.Url("/quick")), 3000, true, &crossing.owner, i == 1 && secondOnUi, &crossing},
                                        78, {}, {}, {}, &CrossOnce};
            crossing.ids[i] = net.HttpGet(&request);
        }
        // Waiting for each other would never end: one of them must not wait.
        EXPECT_TRUE(Until([&] { return crossing.returned == 2; }, true, 20000)) << (secondOnUi ? "worker and UI" : "two workers");
    }
}
