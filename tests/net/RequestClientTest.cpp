#include "NetTestSupport.h"
#include "net_request/RequestClient.h"

// The real service, except that a GET returns only once its result was delivered, as it happens
// to a submitter that loses the processor at the wrong moment.
struct ReturnsLate : NetRequest {
    explicit ReturnsLate(Recorder& results) : results(results) { Initialize(); }
    int32_t HttpGet(const stHttpRequest* request) override {
        const int32_t id = NetRequest::HttpGet(request);
        Until([&] { return results.Of(id) != ""; }, false, 2000);
        return id;
    }
    Recorder& results;
};

TEST_F(Net, RequestClientDeliversResultsAndFreesEveryContextOnceDoneOrWithdrawn) {
    const auto token = std::make_shared<int>();  // every context holds a copy
    const auto contexts = [&] { return token.use_count() - 1; };
    const auto get = [&](RequestClient& client, const char* path, bool isAsync = true, bool onUi = false) {
        return client.Get({server.Url(path), 3000, isAsync, onUi, {}, {}, {}, [&, token](const RequestFinishedRes& r) {
            recorder.Add(r.id, "R" + std::to_string(r.errorCode) + " " + r.url + (r.isAsync ? " async|" : " sync|") + r.body);
        }});
    };
    ReturnsLate late(recorder);
    int owner = 0;
    RequestClient client(&net, &owner), lateClient(&late, &owner), detached(nullptr, &owner);
    const int32_t sync = get(client, "/quick", false);
    EXPECT_EQ(recorder.Of(sync), "R0 " + server.Url("/quick") + " sync|quick");  // before the call returned
    const int32_t async = get(client, "/quick", true, true);
    ASSERT_TRUE(Until([&] { return contexts() == 0; }));
    EXPECT_EQ(recorder.Of(async), "R0 " + server.Url("/quick") + " async|quick");
    EXPECT_EQ(get(detached, "/quick"), -1001);

    EXPECT_EQ(client.Upload({server.Url("/"), 3000, true, true, "/etc/hostname", 3600, 0, [token](auto&) {}, {}, {}}), -1);
    EXPECT_EQ(contexts(), 0);  // none kept for a refusal

    for (int i = 0; i < 5; ++i) get(client, "/quick", true, true);  // for the UI thread, not pumped here
    client.Cancel(get(client, "/quick", true, true));
    EXPECT_EQ(contexts(), 5);
    client.CancelAll();
    EXPECT_EQ(contexts(), 0);

    // Results that come before their submission returns find their contexts, and so do those of
    // submissions racing withdrawals; none is freed under its callback.
    const auto submit = [&](int thread) {
        for (int i = 0; i < (thread < 4 ? 25 : 200); ++i) {
            const int32_t id = get(thread < 4 ? lateClient : client, "/quick");
            EXPECT_TRUE(thread >= 4 || recorder.Of(id) != "") << "a result that came first found no context";
        }
    };
    Concurrently(6, submit, [&] { client.CancelAll(); });
    client.CancelAll();
    EXPECT_TRUE(Until([&] { return contexts() == 0; }, false));
    const std::multiset<int> finished = recorder.Finished();
    EXPECT_EQ(std::set<int>(finished.begin(), finished.end()).size(), finished.size());  // none twice
    EXPECT_GE(finished.size(), 2u + 100);
}
