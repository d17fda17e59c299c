#include "LiveModuleFactory.h"

#include "FactoryEnvironment.h"
#include "FileUtils.h"
#include "ProductVersion.h"
#include "LogBridge.h"
#include "TextConversion.h"
#include "net_request/NetRequest.h"
#include "platform/FrontendApi.h"
#include "platform/ProcessInfo.h"
#include "updater/LiveModuleUpdater.h"
#include "updater/UpdaterCallbacks.h"
#include "platform/PathStyle.h"

namespace LiveModule {

namespace {
// The address whose library dladdr names: this library's own path.
void AnchorInFactoryLibrary() {}
}  // namespace

LiveModuleFactory::LiveModuleFactory(int envArgument) {
    if (envArgument >= 0 && envArgument <= 2) env = envArgument;
    DetectDirectories();
    DetectHostVersion();
    DetectQtVersions();
    LoadLogLibrary(factoryDir, logDir, logLibrary);
    netRequest = std::make_unique<NetRequest>();

    UpdaterCallbacks callbacks;
    callbacks.onModuleInstalled = [this](std::string name) { OnModuleInstalled(std::move(name)); };
    callbacks.onModuleOffline = [this](std::string name) { OnModuleOffline(std::move(name)); };
    callbacks.onUpdateFinished = [this]() { OnUpdateFinished(); };
    updater = std::make_unique<LiveModuleUpdater>(static_cast<INetRequest*>(netRequest.get()), callbacks, hostVersion);

    platform::AddFrontendEventCallback(&LiveModuleFactory::OnFrontendEvent, this);
    LM_LOG(kLogInfo, "[LiveModuleFactory] Begin { evn: %d, api version: %d, obs version: %s, Qt Version: %s, verison: %s }",
           envArgument, static_cast<int>(kInterfaceVersion), hostVersion.c_str(),
           qtVersions.empty() ? "" : qtVersions.front().c_str(), FactoryProductVersion());
}

LiveModuleFactory::~LiveModuleFactory() {
    platform::RemoveFrontendEventCallback(&LiveModuleFactory::OnFrontendEvent, this);
    updater.reset();
    while (!modules.empty()) {
        LoadedModule& entry = modules.front();
        if (entry.unload && entry.module) entry.unload(entry.module);
        modules.pop_front();
    }
    netRequest.reset();
    LM_LOG(kLogInfo, "[LiveModuleFactory] End!!!!!!!!!!!!!!!!!!\n\n");
    ReleaseLogLibrary(logLibrary);
}

int LiveModuleFactory::Init() {
    netRequest->Initialize();
    int result = updater->Init(modulesDir, env);
    if (result != 0) return result;
    DeployHostDependencies();
    LoadAllModules();
    return 0;
}

void LiveModuleFactory::DetectDirectories() {
    std::string libraryPath;
    if (!platform::GetModulePathFromAddress(reinterpret_cast<const void*>(&AnchorInFactoryLibrary), libraryPath)) {
        return;
    }
    FactoryDirectories dirs = LiveModule::DetectDirectories(libraryPath, platform::GetLocalAppDataDir());
    factoryDir = dirs.factoryDir;
    modulesDir = dirs.modulesDir;
    configDir = dirs.configDir;
    logDir = dirs.logDir;
    tempDir = dirs.tempDir;
    CreateDirIfMissing(configDir);
    CreateDirIfMissing(logDir);
    // The folder above it is always there on Windows; on a fresh account here it may not be yet.
    if (!tempDir.empty()) CreateDirTree(tempDir);
}

void LiveModuleFactory::DetectHostVersion() {
    // The host's own version export first; a program without one carries its version in a note.
    std::string fromExports = platform::GetHostVersionFromExports();
    if (!fromExports.empty()) {
        hostVersion = fromExports;
        return;
    }
    std::string executable;
    if (platform::GetHostExecutablePath(executable)) hostVersion = GetFileProductVersion(executable);
}

void LiveModuleFactory::DetectQtVersions() {
    std::string version = platform::GetQtVersionFromExports();
    if (version.empty()) {
        std::string executable;
        if (!platform::GetHostExecutablePath(executable)) return;
        size_t last = executable.find_last_of(platform::kPathSeparators);
        std::string folder = last == std::string::npos ? std::string() : executable.substr(0, last + 1);
        version = GetFileProductVersion(folder + platform::QtPlatformPluginRelativePath());
    }
    qtVersions = QtVersionTags(QtTagFromVersion(version));
}

void LiveModuleFactory::OnFrontendEvent(int event, void* data) {
    if (event != platform::kFrontendEventExit || !data) return;
    static_cast<LiveModuleFactory*>(data)->OnHostExit();
}

void LiveModuleFactory::OnHostExit() {
    LM_LOG(kLogInfo, "[LiveModuleFactory] obs exit");
    updater->Uninit();
    for (LoadedModule& entry : modules) entry.module->Uninitialize();
    while (!modules.empty()) {
        LoadedModule& entry = modules.front();
        entry.unload(entry.module);
        modules.pop_front();
    }
    netRequest->Uninitialize();
}

}  // namespace LiveModule
