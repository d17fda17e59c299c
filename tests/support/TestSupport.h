#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CatalogueServer.h"
#include "LiveModule/LiveModuleExports.h"

// Shared pieces of the test programs: real folders, real installation trees, the real factory library
// loaded with the platform loader, and the journal that test modules report their calls to.
namespace lmtest {

// Calls test modules received, as "<id>:<call>", in order.
std::vector<std::string> Journal();
void ClearJournal();
// Journal entries that start with the given prefix, in order.
std::vector<std::string> JournalOf(const std::string& prefix);
// Ids of the modules that received `call` (as journalled, e.g. "Load" or "Initialize"), in order.
std::vector<std::string> IdsThatReceived(const std::string& call);

// A fresh folder under the system's temporary folder, removed with its contents at the end.
class TempDir {
public:
    explicit TempDir(const std::string& stem = "lmtest");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return dir; }

private:
    std::string dir;
};

// The path with every "/" turned into the system's folder separator.
std::string Native(std::string path);
// A library's or program's file name on this system: "x" gives "x.so" or "x.dll", "x" or "x.exe".
std::string Lib(const std::string& stem);
std::string Program(const std::string& stem);

void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// Occurrences of `needle` in `text`.
size_t Count(const std::string& text, const std::string& needle);
// The base64 lines of a PEM text joined: a key as the build option embeds it.
std::string PemBody(const std::string& pem);

// Path of a module library built by the test tree for the given variant name.
std::string BuiltModule(const std::string& variant);

// root/modules/LiveModuleFactory/64bit/ holding copies of the built factory, log library and copy
// program. Every folder string ends with the system's separator.
class InstallationTree {
public:
    // under: the folder to build the tree in (created when missing).
    explicit InstallationTree(const std::string& under, bool withLogLibrary = true);
    std::string root, modulesDir, factoryDir, factoryPath, logDir;

    // Installs a built test module variant as package `folder` with the library for `tag`.
    void AddPackage(const std::string& folder, const std::string& variant, const std::string& tag = "6_3_1_0") const;
    // Every log file of the tree, concatenated.
    std::string Log() const;
    // Package `id` holds the built `variant` as its 6_3_1_0 library, byte for byte. (Checked on disk:
    // module libraries stay mapped after an exit, so dlopen in this process gives an earlier image.)
    bool Holds(const std::string& id, const std::string& variant) const;
};

// The tree's factory library, opened with the system's loader and closed at the end.
class FactoryLibrary {
public:
    explicit FactoryLibrary(const std::string& path);
    ~FactoryLibrary();
    FactoryLibrary(const FactoryLibrary&) = delete;
    FactoryLibrary& operator=(const FactoryLibrary&) = delete;

    LiveModule::ILiveModuleFactory* Load(int env, int* error);
    void Unload(LiveModule::ILiveModuleFactory* factory);
    void* handle() const { return library; }

private:
    void* library = nullptr;
    LoadLiveModuleFactoryFunc load = nullptr;
    UnloadLiveModuleFactoryFunc unload = nullptr;
};

// The catalogue answer that lists only the factory, at the version nobody needs to download.
std::string FactoryOnlyManifest();

// A catalogue server on the environment's port, serving `manifest` and packages from `packagesDir`.
// Null (and the test skipped) when the environment's server is not on loopback.
std::unique_ptr<LiveModule::tools::CatalogueServer> StartCatalogue(
    int env, const std::string& manifest = FactoryOnlyManifest(), const std::string& packagesDir = ".");

// A factory started over a tree with a catalogue server of the environment answering (env 1: every
// package loads, in scan order); unloaded at the end without an exit event.
struct StartedFactory {
    explicit StartedFactory(const InstallationTree& tree, int env = 1);
    ~StartedFactory();
    std::unique_ptr<LiveModule::tools::CatalogueServer> catalogue;
    FactoryLibrary library;
    int error = 0;
    LiveModule::ILiveModuleFactory* factory = nullptr;
};

// Runs the calling thread's event loop (GLib's main context, or the Windows message loop): the host's
// UI loop in these tests.
void PumpFor(int milliseconds);
bool PumpUntil(const std::function<bool()>& done, int timeoutMilliseconds);

}  // namespace lmtest
