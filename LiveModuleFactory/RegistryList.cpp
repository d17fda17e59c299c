#include "RegistryList.h"

namespace LiveModule {

void RegistryList::push_back(const LoadedModule& entry) {
    const iterator added = entries.insert(entries.end(), entry);
    const auto indexed = byPath.emplace(added->path, Indexed{added, std::string()});
    if (!indexed.second) return;  // the factory never appends a path twice
    const char* id = added->module ? added->module->GetId() : nullptr;
    if (id && *id && byId.emplace(id, added).second) indexed.first->second.id = id;
}

RegistryList::iterator RegistryList::erase(iterator position) {
    const auto found = byPath.find(position->path);
    if (found != byPath.end() && found->second.position == position) {
        if (!found->second.id.empty()) byId.erase(found->second.id);
        byPath.erase(found);
    }
    return entries.erase(position);
}

RegistryList::iterator RegistryList::FindByPath(const std::string& path) {
    const auto found = byPath.find(path);
    return found == byPath.end() ? entries.end() : found->second.position;
}

RegistryList::iterator RegistryList::FindById(const std::string& id) {
    const auto found = byId.find(id);
    return found == byId.end() ? entries.end() : found->second;
}

}  // namespace LiveModule
