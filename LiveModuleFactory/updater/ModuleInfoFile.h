#pragma once

#include <list>
#include <string>

#include "updater/ModuleRecord.h"

// The text of the ModuleInfo file: one JSON object on one line, {"modules": [...]}, whose first
// element is the factory and the others the local module records in order. Only name, version,
// disabled and moduleName are kept in it.
namespace LiveModule {

// Reads the records of `text`. An element named kFactoryModuleName replaces `factoryRecord`; every
// other element is appended to `modules` as it is (duplicates and empty names included). Missing
// or mistyped members give the defaults. False, with nothing changed, when the text is not JSON
// or not an object.
bool ParseModuleInfo(const std::string& text, ModuleRecord& factoryRecord, std::list<ModuleRecord>& modules);

// The file's text for the factory's record and the local records, without a final line break.
std::string SerializeModuleInfo(const ModuleRecord& factoryRecord, const std::list<ModuleRecord>& modules);

}  // namespace LiveModule
