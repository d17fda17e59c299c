#include "EndToEnd.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "HostFrontend.h"

namespace lmtest {

namespace {
std::string Text(int number) {
    return "\"" + std::to_string(number) + "\"";
}
}  // namespace

std::string Manifest(const std::vector<Entry>& entries, int factoryVersion, const std::string& factoryExt) {
    std::string data;
    if (factoryVersion >= 0) {
        data += R"({"name": "LiveModuleFactory", "orgname": "LiveModuleFactory.zip", "resver": )" + Text(factoryVersion) +
                R"(, "pfile": "{base}packages/LiveModuleFactory.zip", "ext": )" + nlohmann::json(factoryExt).dump() + "}";
    }
    for (const Entry& entry : entries) {
        if (!data.empty()) data += ", ";
        data += R"({"name": "Module )" + entry.name + R"(", "orgname": ")" + entry.name + R"(.zip", "resver": )" +
                Text(entry.version) + R"(, "pfile": "{base}packages/)" + entry.name + R"(.zip", "order": )" +
                Text(entry.order) + R"(, "require_client_version": )" + Text(entry.required) + R"(, "preinstall": 1)" +
                (entry.appver.empty() ? "" : R"(, "appver": ")" + entry.appver + "\"") + R"(, "ext": )" +
                nlohmann::json(entry.ext).dump() + "}";
    }
    return R"({"error": 0, "data": [)" + data + "]}";
}

void PublishModule(const std::string& packagesDir, const std::string& id, const std::string& variant,
                   size_t paddingBytes, Damage damage) {
    std::filesystem::create_directories(packagesDir);
    std::vector<ZipEntry> entries{ZipEntry(id + "/"), ZipEntry(id + "/64bit/"),
                                  UnixEntry(id + "/64bit/" + id + "_6_3_1_0.so", ReadFile(BuiltModule(variant)), 0100755)};
    entries.back().damage = damage;
    if (paddingBytes > 0) entries.push_back(UnixEntry(id + "/filler.bin", Incompressible(paddingBytes), 0100644));
    // Written beside and renamed, so the server never serves half a package.
    const std::string target = packagesDir + "/" + id + ".zip";
    WriteZip(target + ".new", entries);
    std::filesystem::rename(target + ".new", target);
}

std::string PackageExt(const std::string& packagePath, const std::string& signingKey) {
    const std::string bytes = ReadFile(packagePath);
    nlohmann::json ext{{"sha256", Sha256Hex(bytes)}, {"size", bytes.size()}};
    if (!signingKey.empty()) ext["sig"] = Sign(bytes, signingKey);
    return ext.dump();
}

int SpawnHost(const InstallationTree& tree, const std::string& output, const std::vector<std::string>& arguments,
              const std::vector<std::string>& environment) {
    // Everything is built before fork: only async-signal-safe calls may follow, as servers run threads here.
    std::vector<std::string> words = {"lm-host", "--factory", tree.factoryPath}, variables = environment;
    words.insert(words.end(), arguments.begin(), arguments.end());
    for (char** variable = environ; *variable; ++variable) variables.emplace_back(*variable);
    std::vector<char*> argv, envp;
    for (std::string& word : words) argv.push_back(word.data());
    for (std::string& variable : variables) envp.push_back(variable.data());
    argv.push_back(nullptr), envp.push_back(nullptr);
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const pid_t child = fork();
    if (child == 0) {
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        execve(LMTEST_LM_HOST, argv.data(), envp.data());
        _exit(127);
    }
    close(out);
    return child;
}

int WaitStatus(int child) {
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

void UseHardenedFactory(const InstallationTree& tree) {
    std::filesystem::copy_file(LMTEST_HARDENED_FACTORY, tree.factoryPath, std::filesystem::copy_options::overwrite_existing);
}

void PublishFactory(const std::string& packagesDir) {
    std::filesystem::create_directories(packagesDir);
    WriteZip(packagesDir + "/LiveModuleFactory.zip",
             {ZipEntry("LiveModuleFactory/64bit/"),
              UnixEntry("LiveModuleFactory/64bit/LiveModuleFactory.so",
                        ReadFile(LMTEST_FACTORY_DIR "/LiveModuleFactory.so"), 0100755)});
}

std::map<std::string, int> Versions(const std::string& moduleInfo) {
    auto json = nlohmann::json::parse(moduleInfo, nullptr, false);
    if (!json.is_object() || !json["modules"].is_array()) return {{"<invalid>", -1}};
    std::map<std::string, int> versions;
    for (const auto& element : json["modules"]) {
        if (!element.is_object()) return {{"<invalid>", -1}};
        versions[element.value("name", "")] = element.value("version", -1);
    }
    return versions;
}

Deployment::Deployment(int env, const std::string& rootPath)
    : env(env), tree(base.path() + "/" + rootPath), packages(base.path() + "/packages"),
      server(StartCatalogue(env, Manifest({}), base.path() + "/packages")) {
    std::filesystem::create_directories(packages);
}

std::string Deployment::ModuleInfo() const {
    return Exists(tree.modulesDir + "ModuleInfo") ? ReadFile(tree.modulesDir + "ModuleInfo") : "";
}

bool Deployment::Installed(const std::string& id) const {
    return Exists(tree.modulesDir + id + "/64bit/" + id + "_6_3_1_0.so");
}

size_t Deployment::CountLogLines(const std::string& text) const {
    return Count(tree.Log(), text);
}

Host::Host(const Deployment& deployment) : library(deployment.tree.factoryPath) {
    factory = library.Load(deployment.env, &error);
}

Host::~Host() {
    if (!factory) return;
    LiveModule::host::FireFrontendEvent(17);
    library.Unload(factory);
}

bool Host::Running(const std::string& id) const {
    for (const std::string& loaded : RegistryOrder()) {
        if (loaded == id) return true;
    }
    return false;
}

std::vector<std::string> Host::RegistryOrder() const {
    // The factory keeps the enumeration in registry order; every test module is enabled.
    static std::vector<std::string>* collected = nullptr;
    std::vector<std::string> order;
    collected = &order;
    if (factory) factory->EnumModules([](LiveModule::ILiveModule* module) { collected->push_back(module->GetId()); });
    collected = nullptr;
    return order;
}

void Host::FireUpdateTimer() const {
    auto fire = reinterpret_cast<void (*)()>(dlsym(library.handle(), "LiveModuleTestFireUpdateTimer"));
    if (!fire) throw std::runtime_error("the factory was built without LIVEMODULE_TEST_HOOKS");
    fire();
}

}  // namespace lmtest
