#include "updater/RecordList.h"

namespace LiveModule {

RecordList::RecordList(std::list<ModuleRecord> initial) : records(std::move(initial)) {
    for (Position it = records.begin(); it != records.end(); ++it) byName[it->name].push_back(it);
}

const ModuleRecord* RecordList::Find(const std::string& name) const {
    const auto found = byName.find(name);
    return found == byName.end() ? nullptr : &*found->second.front();
}

ModuleRecord* RecordList::Find(const std::string& name) {
    const auto found = byName.find(name);
    return found == byName.end() ? nullptr : &*found->second.front();
}

void RecordList::Upsert(const ModuleRecord& record) {
    if (ModuleRecord* first = Find(record.name)) {
        *first = record;
        return;
    }
    // Appended last, so it is also the last of its name.
    byName[record.name].push_back(records.insert(records.end(), record));
}

bool RecordList::Take(const std::string& name, ModuleRecord& taken) {
    const auto found = byName.find(name);
    if (found == byName.end()) return false;
    // `name` may be the record's own name, so the record moves out only after the look-up.
    std::vector<Position>& positions = found->second;
    const Position first = positions.front();
    positions.erase(positions.begin());
    if (positions.empty()) byName.erase(found);
    taken = std::move(*first);
    records.erase(first);
    return true;
}

bool RecordList::TakeFront(ModuleRecord& taken) {
    if (records.empty()) return false;
    // The list's first record is the first of its name.
    return Take(records.front().name, taken);
}

void RecordList::Clear() {
    records.clear();
    byName.clear();
}

}  // namespace LiveModule
