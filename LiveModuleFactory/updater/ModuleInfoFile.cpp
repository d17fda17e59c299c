#include "updater/ModuleInfoFile.h"

#include <nlohmann/json.hpp>

#include "updater/CompactJson.h"
#include "updater/JsonNumbers.h"
#include "updater/JsonReader.h"

namespace LiveModule {

namespace {

std::string StringMember(const nlohmann::json& object, const char* key) {
    const auto member = object.find(key);
    return member != object.end() && member->is_string() ? member->get<std::string>() : std::string();
}

ModuleRecord RecordOf(const nlohmann::json& element) {
    ModuleRecord record;
    // A non-object element gives a default record, as a lookup on it finds no members.
    if (!element.is_object()) return record;
    record.name = StringMember(element, "name");
    record.moduleName = StringMember(element, "moduleName");
    const auto version = element.find("version");
    if (version != element.end()) record.version = JsonNumberToInt32(*version);
    const auto disabled = element.find("disabled");
    if (disabled != element.end() && disabled->is_boolean()) record.disabled = disabled->get<bool>();
    return record;
}

}  // namespace

bool ParseModuleInfo(const std::string& text, ModuleRecord& factoryRecord, std::list<ModuleRecord>& modules) {
    // Read as json11 reads: names are kept as the bytes they were written with, UTF-8 or not.
    const std::optional<nlohmann::json> parsed = ReadJson(text);
    if (!parsed || !parsed->is_object()) return false;
    const nlohmann::json& root = *parsed;
    const auto elements = root.find("modules");
    if (elements == root.end() || !elements->is_array()) return true;
    for (const nlohmann::json& element : *elements) {
        ModuleRecord record = RecordOf(element);
        if (record.name == kFactoryModuleName) {
            factoryRecord = std::move(record);
        } else {
            modules.push_back(std::move(record));
        }
    }
    return true;
}

std::string SerializeModuleInfo(const ModuleRecord& factoryRecord, const std::list<ModuleRecord>& modules) {
    std::vector<std::string> elements;
    elements.push_back(CompactJson::Object({
        {"moduleName", CompactJson::String(factoryRecord.name)},
        {"name", CompactJson::String(factoryRecord.name)},
        {"version", CompactJson::Integer(factoryRecord.version)},
    }));
    for (const ModuleRecord& record : modules) {
        elements.push_back(CompactJson::Object({
            {"disabled", CompactJson::Boolean(record.disabled)},
            {"moduleName", CompactJson::String(record.moduleName)},
            {"name", CompactJson::String(record.name)},
            {"version", CompactJson::Integer(record.version)},
        }));
    }
    return CompactJson::Object({{"modules", CompactJson::Array(elements)}});
}

}  // namespace LiveModule
