#include "NetTestSupport.h"

TEST_F(Net, DownloadsReportEveryChunkOnTheUiOrCallingThreadAndKeepWhatTheyShould) {
    std::string bytes;
    for (int i = 0; i < 1000; ++i) bytes += static_cast<char>(i % 251);
    std::atomic<size_t> reported{0};  // chunks
    recorder.onReport = [&](const std::string& report) { reported += report[0] == 'B'; };
    Server files([&](httplib::Server& http) {
        http.Get("/file", [&](auto&, auto& response) {
            response.set_content_provider(1000, "application/octet-stream", [&](size_t at, size_t, httplib::DataSink& sink) {
                // One chunk at a time: each leaves once the one before was reported on the UI thread.
                Until([&] { return reported * 400 >= at; }, false);
                return sink.write(bytes.data() + at, at < 800 ? 400 : 200);
            });
        });
    });
    const std::string file = folder / "new/file.bin";  // the parent is made on the way
    const stDownloadRequest chunked = Download(files.Url("/file"), file, recorder);
    const int32_t id = net.DownloadFile(&chunked);
    ASSERT_TRUE(Until([&] { return recorder.Finished().size() == 1; }));
    EXPECT_EQ(recorder.Of(id), "P0.400000 B400/1000 P0.800000 B800/1000 P1.000000 B1000/1000 R0 |" + file);
    EXPECT_EQ(ReadFile(file), bytes);

    // Synchronous ones report before they return, and keep what they should.
    Server tls({}, true);
    WriteFile(folder / "kept", "old");
    WriteFile(folder / "replaced", "old");
    WriteFile(folder / "replaced.download", "stale");
    // Returns the result without its text (the path) and what the target then holds.
    const auto run = [&](const std::string& url, const std::string& target, bool overwrite = true) {
        stDownloadRequest request = Download(url, folder / target, recorder);
        request.head.isAsync = false;
        request.overwrite = overwrite;
        request.transferTimeoutSec = 1;
        const int32_t returned = net.DownloadFile(&request), last = *recorder.Finished().rbegin();
        const std::string reports = recorder.Of(last), result = reports.substr(reports.find('R'));  // after progress
        EXPECT_EQ(returned, result.rfind("R0 ", 0) == 0 ? last : -1);  // the id only for success
        return result.substr(0, result.find('|')) + ", " + ReadFile(folder / target);
    };
    EXPECT_EQ(run(server.Url("/quick"), "kept", false), "R-1006 " + WideToChs(L"目标文件已存在") + ", old");
    EXPECT_EQ(run(server.Url("/quick"), "replaced"), "R0 , quick");
    EXPECT_EQ(run(tls.Url("/quick"), "tls"), "R0 , quick");
    EXPECT_EQ(run(server.Url("/quick"), "missing/parent/file"), "R-1005 " + WideToChs(L"目标文件夹创建失败") + ", <missing>");
    EXPECT_EQ(run(server.Url("/answer?status=200"), "empty"), "R-1001 " + WideToChs(L"下载文件大小为0") + ", <missing>");
    EXPECT_EQ(run(server.Url("/stream"), "stalled"), "R-1003 OPERATION_TIMEDOUT, <missing>");
    EXPECT_EQ(run(server.Url("/stream?kib=1"), "unannounced"), "R0 , " + std::string(1024, 's'));
    // Without an announced length: total -1 and the fraction the negative byte count.
    EXPECT_EQ(recorder.Of(*recorder.Finished().rbegin()), "P-1024.000000 B1024/-1 R0 |" + folder / "unannounced");
    EXPECT_EQ(recorder.away, 0);
}
