#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "LogBridge.h"
#include "TestArchives.h"
#include "TestSupport.h"
#include "updater/LiveModuleUpdater.h"

namespace LiveModule {

// The updater's internal steps and state, for the tests.
class LiveModuleUpdaterTestPeer {
public:
    using Records = std::list<ModuleRecord>;
    static const Records& Local(LiveModuleUpdater& u) { return u.localModules.Items(); }
    static const Records& Pending(LiveModuleUpdater& u) { return u.pendingDownloads.Items(); }
    static void ForgetLocal(LiveModuleUpdater& u) { u.localModules.Clear(); }
    static int32_t& FactoryVersion(LiveModuleUpdater& u) { return u.factoryRecord.version; }
    static uint32_t IntervalMs(LiveModuleUpdater& u) { return u.updateIntervalMs; }
    static void Upsert(LiveModuleUpdater& u, const ModuleRecord& r) { u.UpsertLocal(r); }
    static void Queue(LiveModuleUpdater& u, const ModuleRecord& r) { u.QueueDownload(r); }
    static void Merge(LiveModuleUpdater& u, const Records& c) { u.MergeCatalogue(c); }
    static void StartupPass(LiveModuleUpdater& u, const Records& c) { u.StartupPass(c); }
    static bool Accept(LiveModuleUpdater& u, const ModuleRecord& r) { return u.AcceptPackage(r); }
    static std::string DownloadPath(LiveModuleUpdater& u, const std::string& name) { return u.DownloadPath(name); }
    static bool SyncUpdateFactory(LiveModuleUpdater& u, const Records& c) { return u.SyncUpdateFactory(c); }
    static std::string CatalogueUrl(LiveModuleUpdater& u, int env) { return u.BuildCatalogueUrl(env), u.catalogueUrl; }
    // Runs the armed update timer's tick now; false when no timer is armed.
    static bool FireTimer(LiveModuleUpdater& u) { return u.updateTimerId != 0 && (u.UpdateTimerProc(), true); }
    // The folders and the record as Init sets them up, without asking the catalogue.
    static void Open(LiveModuleUpdater& u, const std::string& modulesDir) {
        u.modulesDir = modulesDir, u.moduleInfoPath = modulesDir + "ModuleInfo", u.stagingDir = modulesDir + "Temp/";
        u.ReadModuleInfo();
    }
};

}  // namespace LiveModule

namespace lmtest {

inline LiveModule::ModuleRecord Record(const std::string& name, int32_t version, bool disabled = false,
                                       const std::string& appVersion = "") {
    LiveModule::ModuleRecord record;
    record.name = name, record.moduleName = "Shown " + name, record.version = version, record.disabled = disabled;
    record.packageUrl = "http://packages.invalid/" + name + ".zip", record.appVersion = appVersion;
    return record;
}

// "name:version " of every record in order, with "!" after a disabled one.
inline std::string Listing(const std::list<LiveModule::ModuleRecord>& records) {
    std::string text;
    for (const auto& r : records) text += r.name + ":" + std::to_string(r.version) + (r.disabled ? "! " : " ");
    return text;
}

// The real log library, writing into a folder of its own while the object lives.
class LogCapture {
public:
    LogCapture() { LiveModule::LoadLogLibrary(LMTEST_FACTORY_DIR "/", dir.path() + "/", library); }
    ~LogCapture() { LiveModule::ReleaseLogLibrary(library); }
    std::string Text() const {
        std::string text;
        for (const auto& file : std::filesystem::directory_iterator(dir.path())) text += ReadFile(file.path().string());
        // The log library writes text files: Windows ends their lines with "\r\n".
        std::string lines;
        for (size_t i = 0; i < text.size(); ++i)
            if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lines += text[i];
        return lines;
    }
    // How many lines are exactly "[level] text" after their time stamp.
    int Count(const std::string& level, const std::string& text) const {
        return static_cast<int>(lmtest::Count(Text(), " [" + level + "] " + text + "\n"));
    }

private:
    TempDir dir{"lmtest-log"};
    LiveModule::platform::LibraryHandle library = nullptr;
};

// An updater without a request service on a fresh tree, opened as Init opens it; callbacks go to `events`.
class UpdaterTree : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(staging);
        LiveModule::LiveModuleUpdaterTestPeer::Open(updater, modules);
    }
    // The next start of the host: start-up runs its local steps and stops at the catalogue query.
    std::unique_ptr<LiveModule::LiveModuleUpdater> Restart() {
        auto next = std::make_unique<LiveModule::LiveModuleUpdater>(nullptr, LiveModule::UpdaterCallbacks(), "30.0.0");
        EXPECT_EQ(next->Init(modules, 0), -1);
        return next;
    }

    TempDir temp;
    const std::string root = temp.path() + "/root/", modules = root + "modules/", staging = modules + "Temp/";
    const std::string info = modules + "ModuleInfo";
    LogCapture log;
    std::vector<std::string> events;
    const LiveModule::UpdaterCallbacks callbacks{[this](std::string name) { events.push_back("installed " + name); },
                                                 [this](std::string name) { events.push_back("offline " + name); },
                                                 [this] { events.push_back("finished"); }};
    LiveModule::LiveModuleUpdater updater{nullptr, callbacks, "30.0.0"};
};

}  // namespace lmtest
