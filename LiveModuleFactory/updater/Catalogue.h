#pragma once

#include <list>
#include <string>

#include <nlohmann/json.hpp>

#include "updater/ModuleRecord.h"

// The remote catalogue's answer: {"error": 0, "data": [entry, ...]}, each entry one module with its
// package version, download URL and per-module settings. Parsing never throws.
namespace LiveModule {

// 0 when `text` is one JSON object (nothing but white space after it) whose "error" is a number
// that truncates to 0; the object is then handed back in `object`. -1 for anything else.
int ParseEnvelope(const std::string& text, nlohmann::json& object);

// Appends the accepted entries of a catalogue answer to `out`, in ascending "order" (equal orders
// keep the answer's order). False, with a log line and nothing appended, when the envelope is
// rejected or "data" is not an array.
//
// An entry is accepted when it is an object with a non-empty "name" and an "orgname" that gives a
// module name of one folder level. An entry whose "resver", "require_client_version" or "order" is
// present but cannot be read as an int32 (not a string, no leading digits, too large) is dropped
// too; the other entries stay.
bool ParseCatalogue(const std::string& text, std::list<ModuleRecord>& out);

// Applies the "ext" object's keys ("hot_update_enable", "update_tips", "module_type") to `record`;
// text that is empty, not JSON or not an object changes nothing.
void ParseExt(const std::string& ext, ModuleRecord& record);

}  // namespace LiveModule
