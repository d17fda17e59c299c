#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/DynamicLibrary.h"
#include "platform/PathStyle.h"

namespace fs = std::filesystem;

namespace {
std::mutex g_journalLock;
std::vector<std::string> g_journal;  // guarded by g_journalLock
}  // namespace

// Test modules find this in the host process and report every call they receive.
LIVEMODULE_EXPORT void lm_test_journal(const char* entry) {
    std::lock_guard<std::mutex> guard(g_journalLock);
    g_journal.emplace_back(entry ? entry : "");
}

#ifndef _WIN32
namespace {
// The factory keeps its temporary folder under the user's data folder. Each test process gets a home
// of its own, so test runs leave nothing in the real one (hosts the tests start inherit it).
class OwnHome : public ::testing::Environment {
public:
    void SetUp() override {
        home = std::make_unique<lmtest::TempDir>("lmtest-home");
        setenv("HOME", home->path().c_str(), 1);
        unsetenv("XDG_DATA_HOME");
    }
    void TearDown() override { home.reset(); }

private:
    std::unique_ptr<lmtest::TempDir> home;
};
// googletest owns the environment it is given.
[[maybe_unused]] ::testing::Environment* const g_ownHome = ::testing::AddGlobalTestEnvironment(new OwnHome);
}  // namespace
#endif

namespace lmtest {

std::vector<std::string> Journal() {
    std::lock_guard<std::mutex> guard(g_journalLock);
    return g_journal;
}

void ClearJournal() {
    std::lock_guard<std::mutex> guard(g_journalLock);
    g_journal.clear();
}

std::vector<std::string> JournalOf(const std::string& prefix) {
    std::vector<std::string> matching;
    for (const std::string& entry : Journal()) {
        if (entry.compare(0, prefix.size(), prefix) == 0) matching.push_back(entry);
    }
    return matching;
}

std::vector<std::string> IdsThatReceived(const std::string& call) {
    std::vector<std::string> ids;
    for (const std::string& entry : Journal()) {
        const size_t colon = entry.find(':');
        if (colon != std::string::npos && entry.compare(colon + 1, std::string::npos, call) == 0) ids.push_back(entry.substr(0, colon));
    }
    return ids;
}

TempDir::TempDir(const std::string& stem) {
    static std::atomic<unsigned> made{0};
    std::random_device seed;
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = stem + "-" + std::to_string(seed() % 1000000) + "-" + std::to_string(made++);
        std::error_code error;
        // create_directory answers false for a folder that was there: another run's, never ours.
        if (fs::create_directory(base / name, error)) {
            dir = Native((base / name).string());
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder under " + base.string());
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Windows refuses to remove read-only files; the tests make some.
    for (const auto& entry : fs::recursive_directory_iterator(dir, ignored)) {
        fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    }
    fs::remove_all(dir, ignored);
}

std::string Native(std::string path) {
    for (char& c : path) {
        if (c == '/') c = LiveModule::platform::kPathSeparator;
    }
    return path;
}

std::string Lib(const std::string& stem) {
    return stem + LiveModule::platform::kLibrarySuffix;
}

std::string Program(const std::string& stem) {
    return stem + LiveModule::platform::kProgramSuffix;
}

void WriteFile(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

bool Exists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(path, ignored));
}

size_t Count(const std::string& text, const std::string& needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
    return count;
}

std::string PemBody(const std::string& pem) {
    std::string body, line;
    std::istringstream lines(pem);
    while (std::getline(lines, line)) if (line.rfind("-----", 0) != 0) body += line;
    return body;
}

std::string BuiltModule(const std::string& variant) {
    return Native(std::string(LMTEST_MODULE_DIR) + "/" + Lib(variant));
}

InstallationTree::InstallationTree(const std::string& under, bool withLogLibrary) {
    root = Native(under + "/");
    modulesDir = Native(root + "modules/");
    factoryDir = Native(modulesDir + "LiveModuleFactory/64bit/");
    factoryPath = factoryDir + Lib("LiveModuleFactory");
    logDir = Native(root + "logs/");
    fs::create_directories(factoryDir);
    const std::string built = Native(LMTEST_FACTORY_DIR "/");
    fs::copy_file(built + Lib("LiveModuleFactory"), factoryPath);
    fs::copy_file(built + Program("FileOperation"), factoryDir + Program("FileOperation"));
    if (withLogLibrary) fs::copy_file(built + Lib("Log"), factoryDir + Lib("Log"));
}

void InstallationTree::AddPackage(const std::string& folder, const std::string& variant, const std::string& tag) const {
    const std::string libraries = Native(modulesDir + folder + "/64bit/");
    fs::create_directories(libraries);
    fs::copy_file(BuiltModule(variant), libraries + Lib(folder + "_" + tag), fs::copy_options::overwrite_existing);
}

bool InstallationTree::Holds(const std::string& id, const std::string& variant) const {
    const std::string library = Native(modulesDir + id + "/64bit/" + Lib(id + "_6_3_1_0"));
    return Exists(library) && ReadFile(library) == ReadFile(BuiltModule(variant));
}

std::string InstallationTree::Log() const {
    std::string text;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(logDir, error)) text += ReadFile(entry.path().string());
    return text;
}

FactoryLibrary::FactoryLibrary(const std::string& path) {
    std::string why;
    library = LiveModule::platform::LoadLibrary(path, &why);
    if (!library) throw std::runtime_error("cannot load " + path + ": " + why);
    load = reinterpret_cast<LoadLiveModuleFactoryFunc>(LiveModule::platform::GetLibrarySymbol(library, "LoadLiveModuleFactory"));
    unload = reinterpret_cast<UnloadLiveModuleFactoryFunc>(LiveModule::platform::GetLibrarySymbol(library, "UnloadLiveModuleFactory"));
    if (!load || !unload) throw std::runtime_error("factory exports missing");
}

FactoryLibrary::~FactoryLibrary() {
    LiveModule::platform::FreeLibrary(library);
}

LiveModule::ILiveModuleFactory* FactoryLibrary::Load(int env, int* error) {
    return load(env, nullptr, error);
}

void FactoryLibrary::Unload(LiveModule::ILiveModuleFactory* factory) {
    unload(factory);
}

std::string FactoryOnlyManifest() {
    return R"({"error": 0, "data": [{"name": "LiveModuleFactory", "orgname": "LiveModuleFactory.zip",)"
           R"( "resver": "0", "pfile": "{base}packages/LiveModuleFactory.zip"}]})";
}

// Port of the catalogue server for an environment (0, 1, 2), or 0 when it is not on loopback.
static int CataloguePort(int env) {
    const int ports[] = {LMTEST_CATALOGUE_PORTS};
    return env >= 0 && env <= 2 ? ports[env] : ports[0];
}

std::unique_ptr<LiveModule::tools::CatalogueServer> StartCatalogue(int env, const std::string& manifest,
                                                                   const std::string& packagesDir) {
    const int port = CataloguePort(env);
    if (port == 0) return nullptr;
    auto server = std::make_unique<LiveModule::tools::CatalogueServer>(port, packagesDir);
    server->SetManifestText(manifest);
    if (!server->Start()) throw std::runtime_error("cannot listen on the catalogue port " + std::to_string(port));
    return server;
}

StartedFactory::StartedFactory(const InstallationTree& tree, int env)
    : catalogue(StartCatalogue(env)), library(tree.factoryPath) {
    ClearJournal();
    factory = library.Load(env, &error);
}

StartedFactory::~StartedFactory() {
    if (factory) library.Unload(factory);
}

void PumpFor(int milliseconds) {
    PumpUntil([] { return false; }, milliseconds);
}

}  // namespace lmtest
