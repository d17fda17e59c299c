#include <filesystem>

#include "NetTestSupport.h"

static std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

TEST(NetDownload, EveryChunkIsReportedOnTheUiThreadThenTheFileIsRenamed) {
    std::atomic<long long> reported{0};
    Server server([&](httplib::Server& http) {
        http.Get("/file", [&](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(1000, "application/octet-stream", [&](size_t offset, size_t, httplib::DataSink& sink) {
                // One chunk at a time: each leaves once the one before was reported on the UI thread.
                Until([&] { return reported >= static_cast<long long>(offset); }, false);
                return sink.write(Pattern(1000).data() + offset, offset < 800 ? 400 : 200);
            });
        });
    });
    Started net;
    Recorder recorder;
    recorder.onEvent = [&](const Event& event) { reported = std::max(reported.load(), event.received); };
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

TEST(NetDownload, SynchronousDownloadsReportOnTheCallingThreadAndKeepWhatTheyShould) {
    Server server;
    Started net;
    Recorder recorder;
    TempFolder folder;
    WriteFile(folder / "kept", "old");
    WriteFile(folder / "replaced", "old");
    WriteFile(folder / "replaced.download", "stale");
    int32_t id = 0;
    const auto run = [&](const char* path, const std::string& target, bool overwrite = true) {
        stDownloadRequest request = Download(server.Url(path), folder / target, recorder);
        request.head.isAsync = false;
        request.overwrite = overwrite;
        request.transferTimeoutSec = 1;
        id = net.DownloadFile(&request);
        const Event result = recorder.Events().back();
        EXPECT_EQ(id, result.code == 0 ? result.id : -1);
        return std::to_string(result.code) + " " + result.message;
    };
    EXPECT_EQ(run("/quick", "kept", false), "-1006 " + WideToChs(L"目标文件已存在"));
    EXPECT_EQ(run("/quick", "replaced"), "0 ");
    EXPECT_EQ(run("/quick", "missing/parent/file"), "-1005 " + WideToChs(L"目标文件夹创建失败"));
    EXPECT_EQ(run("/answer?status=200", "empty"), "-1001 " + WideToChs(L"下载文件大小为0"));
    EXPECT_EQ(run("/stream", "stalled"), "-1003 OPERATION_TIMEDOUT");
    EXPECT_EQ(ReadFile(folder / "kept"), "old");
    EXPECT_EQ(ReadFile(folder / "replaced"), "quick");
    EXPECT_FALSE(std::filesystem::exists(folder / "replaced.download"));
    EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
    EXPECT_FALSE(std::filesystem::exists(folder / "stalled"));
    EXPECT_GT(std::filesystem::file_size(folder / "stalled.download"), 0u);  // what arrived stays

    // Without an announced length: total -1 and the fraction the negative byte count.
    EXPECT_EQ(run("/stream?kib=3", "unannounced"), "0 ");
    const std::vector<Event> fractions = recorder.Events(id, 'P'), bytes = recorder.Events(id, 'B');
    ASSERT_EQ(fractions.size(), bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        EXPECT_EQ(bytes[i].total, -1);
        EXPECT_EQ(fractions[i].fraction, -static_cast<double>(bytes[i].received));
    }
    EXPECT_EQ(bytes.back().received, 3072);
    EXPECT_EQ(ReadFile(folder / "unannounced"), std::string(3072, 's'));
    for (const Event& event : recorder.Events()) EXPECT_EQ(event.thread, std::this_thread::get_id());
}
