#include <gtest/gtest.h>

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

// Serves `size` announced bytes of Pattern; `send` says how much to write at an offset, 0 to stop.
void Provide(Server& server, const char* path, size_t size, std::function<size_t(size_t)> send) {
    server.http->Get(path, [=](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(size, "application/octet-stream", [=](size_t offset, size_t, httplib::DataSink& sink) {
            const size_t length = send(offset);
            return length > 0 && sink.write(Pattern(size).data() + offset, length);
        });
    });
}

}  // namespace

TEST(NetDownload, EveryChunkIsReportedOnTheUiThreadThenTheFileIsRenamed) {
    Server server;
    Recorder recorder;
    std::atomic<long long> reported{0};
    recorder.onEvent = [&](const Event& event) { reported = std::max(reported.load(), event.received); };
    Provide(server, "/file", 1000, [&](size_t offset) {
        // One chunk at a time: each leaves once the one before was reported on the UI thread.
        Until([&] { return reported >= static_cast<long long>(offset); }, false);
        return offset < 800 ? 400 : 200;
    });
    server.Start();
    NetRequest net;
    net.Initialize();
    TempFolder folder;
    const std::string target = folder / "new/file.bin";  // the parent is made on the way
    const stDownloadRequest request = Download(server.Url("/file"), target, recorder);
    const int32_t id = net.DownloadFile(&request);
    ASSERT_TRUE(Until([&] { return recorder.Responses() == 1; }));

    std::string kinds, values;
    for (const Event& event : recorder.Events(id)) {
        kinds += event.kind;
        values += std::to_string(event.fraction) + "/" + std::to_string(event.received) + "/" +
                  std::to_string(event.total) + " ";
        EXPECT_EQ(event.thread, std::this_thread::get_id());
    }
    EXPECT_EQ(kinds, "PBPBPBR");
    EXPECT_EQ(values, "0.400000/0/0 0.000000/400/1000 0.800000/0/0 0.000000/800/1000 1.000000/0/0 "
                      "0.000000/1000/1000 0.000000/0/0 ");
    const Event result = recorder.Events(id, 'R').at(0);
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.text, target);
    EXPECT_EQ(ReadFile(target), Pattern(1000));
    EXPECT_FALSE(std::filesystem::exists(target + ".download"));
}

TEST(NetDownload, WithoutAnnouncedLengthTotalIsMinusOneAndFractionsNegativeOnTheCallingThread) {
    Server server;
    server.http->Get("/chunked", [](const httplib::Request& request, httplib::Response& response) {
        EXPECT_FALSE(request.has_header("User-Device"));
        response.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
            if (offset < 500) return sink.write(Pattern(500).data() + offset, offset == 0 ? 300 : 200);
            sink.done();
            return true;
        });
    });
    server.Start();
    NetRequest net;
    net.Initialize();
    Recorder recorder;
    TempFolder folder;
    stDownloadRequest request = Download(server.Url("/chunked"), folder / "c.bin", recorder);
    request.head.isAsync = false;
    int32_t id = 0;
    std::thread::id caller;
    std::thread([&] {
        caller = std::this_thread::get_id();
        id = net.DownloadFile(&request);
    }).join();

    const std::vector<Event> fractions = recorder.Events(id, 'P'), bytes = recorder.Events(id, 'B');
    ASSERT_EQ(fractions.size(), bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        EXPECT_EQ(bytes[i].total, -1);
        EXPECT_EQ(fractions[i].fraction, -static_cast<double>(bytes[i].received));
    }
    EXPECT_EQ(bytes.back().received, 500);
    for (const Event& event : recorder.Events()) EXPECT_EQ(event.thread, caller);
    EXPECT_EQ(ReadFile(folder / "c.bin"), Pattern(500));
}

TEST(NetDownload, FailuresKeepExistingFilesAndReportTheirCodes) {
    Server server;
    std::atomic<int> requests{0};
    server.http->Get("/new", [&](const httplib::Request&, httplib::Response& response) {
        ++requests;
        response.set_content("new", "text/plain");
    });
    server.http->Get("/empty", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("", "text/plain");
    });
    Provide(server, "/stall", 1000, [&](size_t offset) -> size_t {
        if (offset > 0) server.Hold();
        return offset > 0 ? 0 : 500;
    });
    server.Start();
    NetRequest net;
    net.Initialize();
    Recorder recorder;
    TempFolder folder;
    WriteFile(folder / "kept", "old");
    WriteFile(folder / "replaced", "old");
    WriteFile(folder / "replaced.download", "stale");
    const auto run = [&](const char* path, const std::string& target, bool overwrite = true) {
        stDownloadRequest request = Download(server.Url(path), folder / target, recorder);
        request.head.isAsync = false;
        request.overwrite = overwrite;
        request.transferTimeoutSec = 1;
        const int32_t id = net.DownloadFile(&request);
        const Event result = recorder.Events().back();
        EXPECT_EQ(id, result.code == 0 ? result.id : -1);
        return std::to_string(result.code) + " " + result.message;
    };
    EXPECT_EQ(run("/new", "kept", false), "-1006 " + WideToChs(L"目标文件已存在"));
    EXPECT_EQ(requests, 0);
    EXPECT_EQ(run("/new", "replaced"), "0 ");
    EXPECT_EQ(run("/new", "missing/parent/file"), "-1005 " + WideToChs(L"目标文件夹创建失败"));
    EXPECT_EQ(run("/empty", "empty"), "-1001 " + WideToChs(L"下载文件大小为0"));
    EXPECT_EQ(run("/stall", "stalled"), "-1003 OPERATION_TIMEDOUT");

    EXPECT_EQ(ReadFile(folder / "kept"), "old");
    EXPECT_EQ(ReadFile(folder / "replaced"), "new");
    EXPECT_FALSE(std::filesystem::exists(folder / "replaced.download"));
    EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
    EXPECT_EQ(ReadFile(folder / "stalled.download"), Pattern(500));  // what arrived stays
    EXPECT_FALSE(std::filesystem::exists(folder / "stalled"));
    for (const auto& open : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        EXPECT_NE(std::filesystem::read_symlink(open.path(), error), folder / "empty.download");
    }
}
