#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../updater/TestArchives.h"
#include "LiveModule/LiveModule.h"
#include "TestSupport.h"

// The whole system as a host meets it: the real factory library in a real installation tree, a real
// catalogue server on the environment's port, and real zip packages of real module libraries.
namespace lmtest {

// One catalogue entry as the server lists it.
struct Entry {
    Entry(std::string name, int version = 1, int order = 0, int required = 0, std::string appver = "")
        : name(std::move(name)), version(version), order(order), required(required), appver(std::move(appver)) {}
    std::string name;
    int version;
    int order;
    int required;
    std::string appver;
    std::string ext = "{}";  // the "ext" object's JSON text
};

// The catalogue answer listing the factory (unless factoryVersion is negative) and the entries.
std::string Manifest(const std::vector<Entry>& entries, int factoryVersion = 0, const std::string& factoryExt = "{}");

// The "ext" text that vouches for the package file: its "sha256" and "size", and its "sig" by the
// private key tests/keys/<signingKey>.key unless signingKey is empty.
std::string PackageExt(const std::string& packagePath, const std::string& signingKey = "");

// Replaces the tree's factory library with the one built with the test trust settings (signing key
// tests/keys/signing.pub, certificate checks against tests/keys/tls.crt).
void UseHardenedFactory(const InstallationTree& tree);

// A package <id>.zip in `packagesDir` holding <id>/64bit/<id>_6_3_1_0.so built from `variant` (its
// entry damaged as `damage` says), and `paddingBytes` of incompressible filler (to make a download
// take a while).
void PublishModule(const std::string& packagesDir, const std::string& id, const std::string& variant,
                   size_t paddingBytes = 0, Damage damage = Damage::None);

// A factory package LiveModuleFactory.zip with a copy of the built factory library.
void PublishFactory(const std::string& packagesDir);

// name -> version of the elements of a ModuleInfo text (the factory's under its own name); a single
// "<invalid>" entry when the text is no valid record.
std::map<std::string, int> Versions(const std::string& moduleInfo);

// A tree, a packages folder and the catalogue server of one environment.
class Deployment {
public:
    // The installation root is `rootPath` under a fresh folder.
    explicit Deployment(int env, const std::string& rootPath = "root");
    const int env;
    TempDir base;
    InstallationTree tree;
    const std::string packages;
    std::unique_ptr<LiveModule::tools::CatalogueServer> server;

    std::string ModuleInfo() const;  // the record file's text, empty when absent
    bool Installed(const std::string& id) const;  // the library for 6_3_1_0 is in the module tree
    bool InstalledFrom(const std::string& id, const std::string& variant) const { return tree.Holds(id, variant); }
    bool HasLogLine(const std::string& text) const { return tree.Log().find(text) != std::string::npos; }
    size_t CountLogLines(const std::string& text) const;
};

// A running host over a deployment's tree: the factory loaded, the UI loop pumped by the test.
class Host {
public:
    explicit Host(const Deployment& deployment);
    ~Host();  // exit event, then unload
    LiveModule::ILiveModuleFactory* factory = nullptr;
    int error = 0;

    bool Running(const std::string& id) const;  // loaded, whatever its service version
    std::vector<std::string> RegistryOrder() const;
    void FireUpdateTimer() const;

private:
    FactoryLibrary library;
};

// lm-host over `tree` as a child process ("--factory <path>" then `arguments`, `environment` added to
// this process's), stdout and stderr appended to `output`.
int SpawnHost(const InstallationTree& tree, const std::string& output, const std::vector<std::string>& arguments,
              const std::vector<std::string>& environment = {});
// The child's wait status once it has ended.
int WaitStatus(int child);

constexpr int kLong = 30000;  // ms: generous deadline for downloads, also under sanitizers

inline bool UpdateFinished(const Deployment& d, size_t times = 1) {
    return d.CountLogLines("[LiveModuleUpdater] Modules update finished") >= times;
}

}  // namespace lmtest

#define REQUIRE_SERVER(deployment) \
    if (!(deployment).server) GTEST_SKIP() << "this build's catalogue server for env " << (deployment).env << " is not on loopback"

