#include "CatalogueManifest.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "AtomicFile.h"

namespace LiveModule::pack {

namespace {

constexpr const char* kFactoryPackage = "LiveModuleFactory";

// Sets `key` unless the entry has it and no new value was given.
void Put(nlohmann::ordered_json& entry, const char* key, const std::optional<std::string>& given, nlohmann::ordered_json fallback) {
    if (given) {
        entry[key] = *given;
    } else if (!entry.contains(key)) {
        entry[key] = std::move(fallback);
    }
}

void FillEntry(nlohmann::ordered_json& entry, const std::string& id, const EntryOptions& options) {
    const std::string pfile = options.base.value_or("{base}") + "packages/" + id + ".zip";
    Put(entry, "name", options.name, id);
    entry["orgname"] = id + ".zip";
    entry["resver"] = options.version;
    Put(entry, "pfile", options.base ? std::optional<std::string>(pfile) : std::nullopt, pfile);
    Put(entry, "disabled", std::nullopt, 0);
    Put(entry, "preinstall", std::nullopt, 1);
    Put(entry, "order", options.order, "0");
    Put(entry, "require_client_version", options.required, "0");
    if (options.appver) entry["appver"] = *options.appver;
    Put(entry, "identify", std::nullopt, 0);
    Put(entry, "ext", std::nullopt, "{}");
}

}  // namespace

bool CatalogueManifest::Load(const std::string& file, std::string& problem) {
    path = file;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            problem = "cannot read the manifest " + path + ": " + std::strerror(errno);
            return false;
        }
        // The host refuses to start without the factory in the catalogue; version 0 is never fetched.
        existed = false;
        answer = {{"error", 0}, {"data", nlohmann::ordered_json::array()}};
        EntryOptions factory;
        factory.version = "0";
        Upsert(kFactoryPackage, factory);
        return true;
    }
    existed = true;
    std::ifstream in(path, std::ios::binary);
    if (!in || S_ISDIR(info.st_mode)) {
        problem = "cannot read the manifest " + path;
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    answer = nlohmann::ordered_json::parse(text.str(), nullptr, false);
    if (answer.is_discarded() || !answer.is_object() || !answer.contains("data") || !answer["data"].is_array()) {
        problem = "the manifest " + path + " is no catalogue answer ({\"error\": 0, \"data\": [...]}); it was left as it is";
        return false;
    }
    return true;
}

bool CatalogueManifest::Upsert(const std::string& id, const EntryOptions& entry) {
    for (auto& existing : answer["data"]) {
        if (existing.is_object() && existing.value("orgname", nlohmann::ordered_json()) == id + ".zip") {
            FillEntry(existing, id, entry);
            return false;
        }
    }
    nlohmann::ordered_json added = nlohmann::ordered_json::object();
    FillEntry(added, id, entry);
    answer["data"].push_back(std::move(added));
    return true;
}

void CatalogueManifest::SetPackageFacts(const std::string& id, const PackageFacts& facts) {
    for (auto& existing : answer["data"]) {
        if (!existing.is_object() || existing.value("orgname", nlohmann::ordered_json()) != id + ".zip") continue;
        // "ext" is JSON text inside the entry; what else it holds stays.
        const auto& ext = existing["ext"];
        nlohmann::ordered_json object = nlohmann::ordered_json::parse(ext.is_string() ? ext.get<std::string>() : "",
                                                                      nullptr, false);
        if (object.is_discarded() || !object.is_object()) object = nlohmann::ordered_json::object();
        object["sha256"] = facts.sha256;
        object["size"] = facts.size;
        if (facts.signature.empty()) {
            object.erase("sig");
        } else {
            object["sig"] = facts.signature;
        }
        existing["ext"] = object.dump();
        return;
    }
}

std::string CatalogueManifest::Warning() const {
    for (const auto& entry : answer["data"]) {
        if (entry.is_object() && entry.value("orgname", nlohmann::ordered_json()) == std::string(kFactoryPackage) + ".zip") return "";
    }
    return "the manifest lists no " + std::string(kFactoryPackage) + " entry; the host does not start without one";
}

bool CatalogueManifest::Render(std::string& problem) {
    try {
        text = answer.dump(2) + "\n";
    } catch (const nlohmann::json::exception& failure) {
        problem = "the manifest entry cannot be written as JSON (" + std::string(failure.what()) + "); texts must be UTF-8";
        return false;
    }
    return true;
}

bool CatalogueManifest::Save(std::string& error) const {
    std::error_code created;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), created);
    if (created) {
        error = "cannot create the folder for " + path + ": " + created.message();
        return false;
    }
    AtomicFile file(path);
    if (!file.Create(error)) return false;
    std::ofstream out(file.TempPath(), std::ios::binary);
    out << text;
    out.close();
    if (!out) {
        error = "cannot write " + file.TempPath();
        return false;
    }
    // A rewritten manifest keeps the permissions it had.
    struct stat old {};
    const mode_t mode = existed && stat(path.c_str(), &old) == 0 ? old.st_mode & 07777 : NewFileMode();
    return file.Commit(mode, error);
}

}  // namespace LiveModule::pack
