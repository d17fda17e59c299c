#include "EndToEnd.h"

#include <dlfcn.h>

#include <filesystem>
#include <stdexcept>

#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <openssl/pem.h>

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
    if (paddingBytes > 0) {
        std::string filler(paddingBytes, '\0');
        uint32_t state = 2463534242u;  // xorshift: bytes deflate cannot shrink
        for (char& byte : filler) {
            state ^= state << 13, state ^= state >> 17, state ^= state << 5;
            byte = static_cast<char>(state);
        }
        entries.push_back(UnixEntry(id + "/filler.bin", filler, 0100644));
    }
    // Written beside and renamed, so the server never serves half a package.
    const std::string target = packagesDir + "/" + id + ".zip";
    WriteZip(target + ".new", entries);
    std::filesystem::rename(target + ".new", target);
}

std::string PackageExt(const std::string& packagePath, const std::string& signingKey) {
    const std::string bytes = ReadFile(packagePath);
    unsigned char digest[32];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    for (unsigned char byte : digest) hex += "0123456789abcdef"[byte >> 4], hex += "0123456789abcdef"[byte & 15];
    nlohmann::json ext{{"sha256", hex}, {"size", bytes.size()}};
    if (!signingKey.empty()) {
        FILE* file = std::fopen((LMTEST_KEYS_DIR "/" + signingKey + ".key").c_str(), "r");
        EVP_PKEY* key = file ? PEM_read_PrivateKey(file, nullptr, nullptr, nullptr) : nullptr;
        if (file) std::fclose(file);
        EVP_MD_CTX* context = EVP_MD_CTX_new();
        unsigned char signature[64];
        size_t size = sizeof signature;
        if (!key || EVP_DigestSignInit(context, nullptr, nullptr, nullptr, key) != 1 ||
            EVP_DigestSign(context, signature, &size, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1) {
            throw std::runtime_error("cannot sign with " + signingKey);
        }
        EVP_MD_CTX_free(context);
        EVP_PKEY_free(key);
        std::string text(89, '\0');
        text.resize(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), signature, static_cast<int>(size)));
        ext["sig"] = text;
    }
    return ext.dump();
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
