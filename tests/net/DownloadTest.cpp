#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "NetTestSupport.h"
#include "TempFolder.h"
#include "TextConversion.h"
#include "net_request/NetRequest.h"

using namespace LiveModule;
using namespace nettest;

namespace {

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

// True when this process holds a descriptor open on `path`.
bool HeldOpen(const std::string& path) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == path) return true;
    }
    return false;
}

int32_t DownloadHere(NetRequest& net, stDownloadRequest request) {
    request.head.isAsync = false;
    return net.DownloadFile(&request);
}

}  // namespace

TEST(NetDownload, EveryChunkIsReportedOnTheUiThreadThenTheFileIsRenamed) {
    const std::string body = Pattern(1000);
    std::atomic<long long> reported{0};
    std::atomic<int> withUserDevice{0};
    LocalServer server;
    server.http().Get("/file", [&](const httplib::Request& request, httplib::Response& response) {
        withUserDevice += request.has_header("User-Device");
        response.set_content_provider(1000, "application/octet-stream",
                                      [&](size_t offset, size_t, httplib::DataSink& sink) {
                                          const size_t size = offset < 800 ? 400 : 200;
                                          sink.write(body.data() + offset, size);
                                          // One chunk at a time: the next leaves once this one was reported.
                                          WaitWithoutUi([&] { return reported >= static_cast<long long>(offset + size); });
                                          return true;
                                      });
    });
    server.Start();
    NetRequest net;
    net.Initialize();
    Recorder recorder;
    recorder.onEvent = [&](const Event& event) {
        if (event.kind == 'B') reported = event.received;
    };
    TempFolder folder;
    const std::string target = folder / "new/file.bin";  // the parent is made on the way

    stDownloadRequest request = DownloadRequest(server.Url("/file"), target, recorder);
    request.binaryMode = 1;
    const int32_t id = net.DownloadFile(&request);
    ASSERT_TRUE(recorder.WaitResponses(1));

    const std::vector<Event> events = recorder.Events();
    std::string kinds;
    for (const Event& event : events) {
        kinds += event.kind;
        EXPECT_EQ(event.id, id);
        EXPECT_EQ(event.thread, std::this_thread::get_id());
    }
    ASSERT_EQ(kinds, "PBPBPBR");
    EXPECT_EQ(events[0].fraction, 0.4);
    EXPECT_EQ(events[2].fraction, 0.8);
    EXPECT_EQ(events[4].fraction, 1.0);
    for (int chunk = 0; chunk < 3; ++chunk) {
        EXPECT_EQ(events[1 + 2 * chunk].received, std::vector<long long>({400, 800, 1000})[chunk]);
        EXPECT_EQ(events[1 + 2 * chunk].total, 1000);
    }
    EXPECT_EQ(events[6].code, 0);
    EXPECT_EQ(events[6].message, "");
    EXPECT_EQ(events[6].text, target);
    EXPECT_EQ(ReadFile(target), body);
    EXPECT_FALSE(Exists(target + ".download"));
    EXPECT_EQ(withUserDevice, 0);
}

TEST(NetDownload, WithoutAnnouncedLengthTotalIsMinusOneAndFractionsNegative) {
    LocalServer server;
    server.http().Get("/chunked", [](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("application/octet-stream", [](size_t offset, httplib::DataSink& sink) {
            if (offset == 0) sink.write(Pattern(500).data(), 300);
            if (offset == 300) sink.write(Pattern(500).data() + 300, 200);
            if (offset == 500) sink.done();
            return true;
        });
    });
    server.Start();
    NetRequest net;
    net.Initialize();
    Recorder recorder;
    TempFolder folder;

    // Synchronous, from a thread of its own: everything is reported on that thread.
    int32_t id = 0;
    std::thread::id caller;
    std::thread([&] {
        caller = std::this_thread::get_id();
        id = DownloadHere(net, DownloadRequest(server.Url("/chunked"), folder / "c.bin", recorder));
    }).join();

    EXPECT_GT(id, 0);
    const std::vector<Event> fractions = recorder.Of(id, 'P'), bytes = recorder.Of(id, 'B');
    ASSERT_FALSE(bytes.empty());
    ASSERT_EQ(fractions.size(), bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        EXPECT_EQ(bytes[i].total, -1);
        EXPECT_EQ(fractions[i].fraction, -static_cast<double>(bytes[i].received));
    }
    EXPECT_EQ(bytes.back().received, 500);
    for (const Event& event : recorder.Events()) EXPECT_EQ(event.thread, caller);
    EXPECT_EQ(recorder.Of(id, 'R').at(0).code, 0);
    EXPECT_EQ(ReadFile(folder / "c.bin"), Pattern(500));
}

TEST(NetDownload, AnnouncedLengthZeroFailsAndLeavesNoFileOpen) {
    LocalServer server;
    server.http().Get("/empty", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("", "text/plain");
    });
    server.Start();
    NetRequest net;
    net.Initialize();
    Recorder recorder;
    TempFolder folder;

    EXPECT_EQ(DownloadHere(net, DownloadRequest(server.Url("/empty"), folder / "e.bin", recorder)), -1);
    const Event result = recorder.Events().back();
    EXPECT_EQ(result.code, -1001);
    EXPECT_EQ(result.message, WideToChs(L"下载文件大小为0"));
    EXPECT_FALSE(HeldOpen(folder / "e.bin.download"));
    EXPECT_FALSE(Exists(folder / "e.bin"));
}

TEST(NetDownload, FileSystemStepsRefuseExistingTargetsAndMissingGrandparents) {
    std::atomic<int> requests{0};
    LocalServer server;
    server.http().Get("/new", [&](const httplib::Request&, httplib::Response& response) {
        ++requests;
        response.set_content("new content", "text/plain");
    });
    server.Start();
    NetRequest net;
    net.Initialize();
    Recorder recorder;
    TempFolder folder;
    const std::string target = folder / "kept.txt";
    WriteFile(target, "old");
    WriteFile(target + ".download", "stale");

    stDownloadRequest keep = DownloadRequest(server.Url("/new"), target, recorder);
    keep.overwrite = false;
    EXPECT_EQ(DownloadHere(net, keep), -1);
    EXPECT_EQ(recorder.Events().back().code, -1006);
    EXPECT_EQ(recorder.Events().back().message, WideToChs(L"目标文件已存在"));
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_EQ(requests, 0);

    EXPECT_GT(DownloadHere(net, DownloadRequest(server.Url("/new"), target, recorder)), 0);
    EXPECT_EQ(ReadFile(target), "new content");
    EXPECT_FALSE(Exists(target + ".download"));

    const std::string orphan = folder / "missing/parent/file.txt";
    EXPECT_EQ(DownloadHere(net, DownloadRequest(server.Url("/new"), orphan, recorder)), -1);
    EXPECT_EQ(recorder.Events().back().code, -1005);
    EXPECT_EQ(recorder.Events().back().message, WideToChs(L"目标文件夹创建失败"));
    EXPECT_FALSE(Exists(folder / "missing"));
}

TEST(NetDownload, TransferTimeLimitEndsAStalledBodyAndKeepsWhatArrived) {
    const std::string body = Pattern(1000);
    LocalServer server;
    server.http().Get("/stall", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(1000, "application/octet-stream",
                                      [&](size_t offset, size_t, httplib::DataSink& sink) {
                                          if (offset == 0) sink.write(body.data(), 500);
                                          server.gate.Pass();
                                          return false;
                                      });
    });
    server.Start();
    NetRequest net;
    net.Initialize();
    Recorder recorder;
    TempFolder folder;

    stDownloadRequest request = DownloadRequest(server.Url("/stall"), folder / "t.bin", recorder);
    request.transferTimeoutSec = 1;
    EXPECT_EQ(DownloadHere(net, request), -1);
    EXPECT_EQ(recorder.Events().back().code, -1003);
    EXPECT_EQ(recorder.Events().back().message, "OPERATION_TIMEDOUT");
    EXPECT_EQ(ReadFile(folder / "t.bin.download"), body.substr(0, 500));
    EXPECT_FALSE(Exists(folder / "t.bin"));
}
