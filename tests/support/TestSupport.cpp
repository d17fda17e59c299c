#include "TestSupport.h"

#include <dlfcn.h>
#include <glib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {
std::mutex g_journalLock;
std::vector<std::string> g_journal;  // guarded by g_journalLock
}  // namespace

// Test modules find this in the host process and report every call they receive.
extern "C" __attribute__((visibility("default"))) void lm_test_journal(const char* entry) {
    std::lock_guard<std::mutex> guard(g_journalLock);
    g_journal.emplace_back(entry ? entry : "");
}

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
    std::string pattern = (fs::temp_directory_path() / (stem + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
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
    return std::string(LMTEST_MODULE_DIR) + "/" + variant + ".so";
}

InstallationTree::InstallationTree(const std::string& under, bool withLogLibrary) {
    root = under + "/";
    modulesDir = root + "modules/";
    factoryDir = modulesDir + "LiveModuleFactory/64bit/";
    factoryPath = factoryDir + "LiveModuleFactory.so";
    logDir = root + "logs/";
    fs::create_directories(factoryDir);
    const std::string built = LMTEST_FACTORY_DIR "/";
    fs::copy_file(built + "LiveModuleFactory.so", factoryPath);
    fs::copy_file(built + "FileOperation", factoryDir + "FileOperation");
    if (withLogLibrary) fs::copy_file(built + "Log.so", factoryDir + "Log.so");
}

void InstallationTree::AddPackage(const std::string& folder, const std::string& variant, const std::string& tag) const {
    const std::string libraries = modulesDir + folder + "/64bit/";
    fs::create_directories(libraries);
    fs::copy_file(BuiltModule(variant), libraries + folder + "_" + tag + ".so", fs::copy_options::overwrite_existing);
}

bool InstallationTree::Holds(const std::string& id, const std::string& variant) const {
    const std::string library = modulesDir + id + "/64bit/" + id + "_6_3_1_0.so";
    return Exists(library) && ReadFile(library) == ReadFile(BuiltModule(variant));
}

std::string InstallationTree::Log() const {
    std::string text;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(logDir, error)) text += ReadFile(entry.path().string());
    return text;
}

FactoryLibrary::FactoryLibrary(const std::string& path) {
    library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) throw std::runtime_error(std::string("dlopen failed: ") + dlerror());
    load = reinterpret_cast<LoadLiveModuleFactoryFunc>(dlsym(library, "LoadLiveModuleFactory"));
    unload = reinterpret_cast<UnloadLiveModuleFactoryFunc>(dlsym(library, "UnloadLiveModuleFactory"));
    if (!load || !unload) throw std::runtime_error("factory exports missing");
}

FactoryLibrary::~FactoryLibrary() {
    dlclose(library);
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

bool PumpUntil(const std::function<bool()>& done, int timeoutMilliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    GMainContext* context = g_main_context_ref_thread_default();
    bool reached = done();
    while (!reached && std::chrono::steady_clock::now() < deadline) {
        // Blocks for at most one source's period, so the deadline is kept.
        if (!g_main_context_iteration(context, FALSE)) g_usleep(1000);
        reached = done();
    }
    g_main_context_unref(context);
    return reached;
}

}  // namespace lmtest
