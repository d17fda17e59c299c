#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "TestSupport.h"
#include "UpdaterPeer.h"
#include "net_request/NetRequest.h"

namespace lmtest {

// A catalogue entry for a module package served by the test catalogue.
std::string ModuleEntry(const std::string& name, int version, const std::string& extra = "");
// A catalogue answer: the factory at `factoryVersion`, then the given entries.
std::string CatalogueOf(const std::vector<std::string>& entries, int factoryVersion = 0);
// A loopback port that was free a moment ago: nothing answers there.
int UnusedPort();

// An updater over a real NetRequest started on this thread (the UI thread of these tests), and a
// real catalogue server on the default environment's port that serves packages from `packages`.
// Callbacks are recorded in `events` as "installed <name>", "offline <name>" and "finished".
class OnlineUpdater : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // A module package in the served folder: "<name>/64bit/lib.so" holding `content`.
    void Publish(const std::string& name, const std::string& content = "lib") const;
    // Pumps the UI loop until the updater reports a finished cycle `count` times in all.
    bool PumpUntilFinished(int count = 1, int timeoutMs = 20000);
    // A new updater in place of the old one, as at the next start of the host.
    void Renew();
    int Count(const std::string& event) const;

    TempDir temp;
    const std::string modules = temp.path() + "/root/modules/", staging = modules + "Temp/";
    const std::string packages = temp.path() + "/served/";
    LogCapture log;
    LiveModule::NetRequest net;
    std::unique_ptr<LiveModule::tools::CatalogueServer> server;
    std::vector<std::string> events;
    LiveModule::UpdaterCallbacks callbacks{[this](std::string name) { events.push_back("installed " + name); },
                                           [this](std::string name) { events.push_back("offline " + name); },
                                           [this] { events.push_back("finished"); }};
    std::unique_ptr<LiveModule::LiveModuleUpdater> updater;
};

}  // namespace lmtest
