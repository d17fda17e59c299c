#pragma once

#include <cstddef>
#include <list>
#include <string>
#include <unordered_map>

#include "LoadedModule.h"

namespace LiveModule {

// The factory's registry: LoadedModule entries in registry order, used like the std::list it
// wraps, and indexed by library path and by the id the entry's module reported when it was
// appended, so both look-ups cost constant time on average. The factory accepts at most one entry
// per module id (a duplicate is refused before it is appended); the id index keeps the first.
// Not thread-safe: the factory uses it on the UI thread only.
class RegistryList {
public:
    using iterator = std::list<LoadedModule>::iterator;
    using const_iterator = std::list<LoadedModule>::const_iterator;

    RegistryList() = default;
    RegistryList(const RegistryList&) = delete;
    RegistryList& operator=(const RegistryList&) = delete;

    iterator begin() { return entries.begin(); }
    iterator end() { return entries.end(); }
    const_iterator begin() const { return entries.begin(); }
    const_iterator end() const { return entries.end(); }
    bool empty() const { return entries.empty(); }
    std::size_t size() const { return entries.size(); }
    LoadedModule& front() { return entries.front(); }
    const std::list<LoadedModule>& List() const { return entries; }

    void push_back(const LoadedModule& entry);
    iterator erase(iterator position);
    void pop_front() { erase(entries.begin()); }
    // A stable sort; it relinks the entries, so the index stays valid.
    template <class Less>
    void sort(Less less) { entries.sort(less); }

    // The entry with that library path, or end().
    iterator FindByPath(const std::string& path);
    // The entry whose module reported that id, or end().
    iterator FindById(const std::string& id);

private:
    struct Indexed {
        iterator position;
        std::string id;  // the key this entry holds in byId; empty when it holds none
    };

    std::list<LoadedModule> entries;
    // Keyed by each entry's path, which never changes while it is registered. The id is kept here
    // because the module may already be released when its entry is erased.
    std::unordered_map<std::string, Indexed> byPath;
    std::unordered_map<std::string, iterator> byId;
};

}  // namespace LiveModule
