#pragma once

#include <cstddef>
#include <list>
#include <string>
#include <unordered_map>
#include <vector>

#include "updater/ModuleRecord.h"

namespace LiveModule {

// Module records in list order, indexed by name: finding, replacing and taking a record by name
// cost constant time on average, whatever the length. Several records may share a name (a
// hand-edited ModuleInfo); every operation by name acts on the first of them in list order.
// Not thread-safe: the updater uses it on the UI thread only.
class RecordList {
public:
    RecordList() = default;
    explicit RecordList(std::list<ModuleRecord> records);
    // Moving keeps the index valid (list nodes move with the list); a copy would not.
    RecordList(RecordList&&) = default;
    RecordList& operator=(RecordList&&) = default;
    RecordList(const RecordList&) = delete;
    RecordList& operator=(const RecordList&) = delete;

    const std::list<ModuleRecord>& Items() const { return records; }
    bool Empty() const { return records.empty(); }
    std::size_t Size() const { return records.size(); }

    // The first record of that name, or null.
    const ModuleRecord* Find(const std::string& name) const;
    ModuleRecord* Find(const std::string& name);
    // Replaces the first record of that name in its place, or appends the record.
    void Upsert(const ModuleRecord& record);
    // Moves the first record of that name out of the list; false when there is none.
    bool Take(const std::string& name, ModuleRecord& taken);
    // Moves the first record of the list out; false when the list is empty.
    bool TakeFront(ModuleRecord& taken);
    void Clear();

private:
    using Position = std::list<ModuleRecord>::iterator;

    std::list<ModuleRecord> records;
    // The positions of each name's records, in list order; a name without records has no key.
    std::unordered_map<std::string, std::vector<Position>> byName;
};

}  // namespace LiveModule
