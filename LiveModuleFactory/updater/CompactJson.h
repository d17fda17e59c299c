#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Writes JSON text in json11's compact form, the form the ModuleInfo file has always had: object
// members in ascending byte order of their keys, ": " after a key, ", " between members and
// between array elements, no line breaks.
namespace LiveModule::CompactJson {

// A string value: the bytes as they are, except for the escapes json11 writes.
std::string String(const std::string& text);
std::string Integer(int32_t value);
std::string Boolean(bool value);

// Members and elements are values written by the functions here. std::map orders its keys by
// unsigned bytes, which is the member order wanted.
std::string Object(const std::map<std::string, std::string>& members);
std::string Array(const std::vector<std::string>& elements);

}  // namespace LiveModule::CompactJson
