#include "OnlineUpdater.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "TestArchives.h"

namespace lmtest {

std::string ModuleEntry(const std::string& name, int version, const std::string& extra) {
    return "{\"name\": \"Shown " + name + "\", \"orgname\": \"" + name + ".zip\", \"resver\": \"" +
           std::to_string(version) + "\", \"pfile\": \"{base}packages/" + name + ".zip\"" +
           (extra.empty() ? "" : ", " + extra) + "}";
}

std::string CatalogueOf(const std::vector<std::string>& entries, int factoryVersion) {
    std::string text = "{\"error\": 0, \"data\": [" + ModuleEntry(LiveModule::kFactoryModuleName, factoryVersion);
    for (const std::string& entry : entries) text += ", " + entry;
    return text + "]}";
}

int UnusedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

void OnlineUpdater::SetUp() {
    std::filesystem::create_directories(packages);
    std::filesystem::create_directories(modules);
    server = StartCatalogue(0, CatalogueOf({}), packages);
    if (!server) GTEST_SKIP() << "this build's default catalogue server is not on loopback";
    // The server library sets up lazy tables on its first requests, out of ThreadSanitizer's sight;
    // done here, before concurrent requests, every handler thread reaches them through the pool's
    // lock. Neither request is counted by the server.
    httplib::Client warmUp("127.0.0.1", server->Port());
    warmUp.Get("/");
    warmUp.Head("/packages/none.zip");
    ASSERT_TRUE(net.Initialize());
    Renew();
}

void OnlineUpdater::Renew() {
    updater.reset();
    updater = std::make_unique<LiveModule::LiveModuleUpdater>(&net, callbacks, "30.0.0");
}

void OnlineUpdater::TearDown() {
    updater.reset();
    net.Uninitialize();
}

void OnlineUpdater::Publish(const std::string& name, const std::string& content) const {
    WriteZip(packages + name + ".zip", {{name + "/64bit/lib.so", content}});
}

bool OnlineUpdater::PumpUntilFinished(int count, int timeoutMs) {
    return PumpUntil([&] { return Count("finished") >= count; }, timeoutMs);
}

int OnlineUpdater::Count(const std::string& event) const {
    return static_cast<int>(std::count(events.begin(), events.end(), event));
}

}  // namespace lmtest
