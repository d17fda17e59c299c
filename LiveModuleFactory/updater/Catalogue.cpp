#include "updater/Catalogue.h"

#include <cstdint>
#include <limits>

#include "LogBridge.h"
#include "updater/JsonNumbers.h"
#include "updater/PackageCheck.h"
#include "updater/JsonReader.h"

namespace LiveModule {

namespace {

using Json = nlohmann::json;

// Reads text the way a base-10 strtol does (leading white space, an optional sign, digits; the
// rest ignored), without its locale dependence. False when there are no digits or the value does
// not fit int32.
bool LeadingInt32(const std::string& text, int32_t& value) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                   : std::numeric_limits<int32_t>::max();
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > limit) return false;
    }
    value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
}

const Json* Member(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

std::string StringOrEmpty(const Json* value) {
    return value && value->is_string() ? value->get<std::string>() : std::string();
}

// A present member must hold a decimal text; an absent one keeps the field's default.
bool ReadDecimalText(const Json& entry, const char* key, int32_t& field) {
    const Json* value = Member(entry, key);
    if (!value) return true;
    return value->is_string() && LeadingInt32(value->get_ref<const std::string&>(), field);
}

bool IsOneWhenNumber(const Json* value) {
    return value && value->is_number() && JsonNumberToInt32(*value) == 1;
}

// Sets `field` only when the value is a number that truncates into [low, high].
void ReadBoundedNumber(const Json* value, int32_t low, int32_t high, int32_t& field) {
    if (!value || !value->is_number()) return;
    const int32_t number = JsonNumberToInt32(*value);
    if (number >= low && number <= high) field = number;
}

// The record of one catalogue entry; false when the entry is to be dropped.
bool ReadEntry(const Json& entry, ModuleRecord& record) {
    if (!entry.is_object()) return false;
    record.moduleName = StringOrEmpty(Member(entry, "name"));
    const std::string orgname = StringOrEmpty(Member(entry, "orgname"));
    const std::size_t zip = orgname.rfind(".zip");
    if (zip != std::string::npos) record.name = orgname.substr(0, zip);
    // A number that cannot be read is no reason to lose the other entries, and a guessed value
    // could install or order the wrong package; the entry alone is dropped.
    if (!ReadDecimalText(entry, "resver", record.version) ||
        !ReadDecimalText(entry, "require_client_version", record.requiredVersion) ||
        !ReadDecimalText(entry, "order", record.order)) {
        return false;
    }
    record.packageUrl = StringOrEmpty(Member(entry, "pfile"));
    record.disabled = IsOneWhenNumber(Member(entry, "disabled"));
    if (const Json* preinstall = Member(entry, "preinstall")) record.preinstall = IsOneWhenNumber(preinstall);
    if (const Json* ext = Member(entry, "ext"); ext && ext->is_string()) {
        ParseExt(ext->get_ref<const std::string&>(), record);
    }
    ReadBoundedNumber(Member(entry, "identify"), 0, 2, record.identify);
    record.appVersion = StringOrEmpty(Member(entry, "appver"));
    // The name becomes a folder and a download path: anything but one folder level could reach
    // outside the modules folder.
    return !record.moduleName.empty() && IsPlainModuleName(record.name);
}

}  // namespace

int ParseEnvelope(const std::string& text, Json& object) {
    std::optional<Json> parsed = ReadJson(text);
    if (!parsed || !parsed->is_object()) return -1;
    const Json* error = Member(*parsed, "error");
    if (!error || !error->is_number() || JsonNumberToInt32(*error) != 0) return -1;
    object = std::move(*parsed);
    return 0;
}

bool ParseCatalogue(const std::string& text, std::list<ModuleRecord>& out) {
    Json envelope;
    const Json* data = ParseEnvelope(text, envelope) == 0 ? Member(envelope, "data") : nullptr;
    if (!data || !data->is_array()) {
        LM_LOG(kLogError, "[LiveModuleUpdater] Parse remote module info failed { invalid param }");
        return false;
    }
    std::list<ModuleRecord> accepted;
    for (const Json& entry : *data) {
        ModuleRecord record;
        if (ReadEntry(entry, record)) accepted.push_back(std::move(record));
    }
    // std::list::sort is stable: equal orders keep the answer's order.
    accepted.sort([](const ModuleRecord& a, const ModuleRecord& b) { return a.order < b.order; });
    out.splice(out.end(), accepted);
    return true;
}

void ParseExt(const std::string& ext, ModuleRecord& record) {
    if (ext.empty()) return;
    const std::optional<Json> parsed = ReadJson(ext);
    if (!parsed || !parsed->is_object()) return;
    const Json& object = *parsed;
    ReadPackageCheck(object, record.package);
    if (const Json* hot = Member(object, "hot_update_enable")) record.hotUpdateEnabled = IsOneWhenNumber(hot);
    if (const Json* tips = Member(object, "update_tips"); tips && tips->is_string()) {
        record.updateTips = tips->get<std::string>();
    }
    ReadBoundedNumber(Member(object, "module_type"), 0, 1, record.moduleType);
}

}  // namespace LiveModule
