#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "PackOptions.h"
#include "PackageSigning.h"

namespace LiveModule::pack {

// The catalogue answer a catalogue server serves: {"error": 0, "data": [entry, ...]}. Entries are
// matched by "orgname"; everything else in the file, and the order of entries and keys, is kept.
class CatalogueManifest {
public:
    // Reads the file; a missing file starts a new answer that lists the factory. False, with the
    // reason, when the file cannot be read or is no catalogue answer.
    bool Load(const std::string& path, std::string& problem);

    // Adds the module's entry or updates the first one with the same "orgname". True when added.
    bool Upsert(const std::string& id, const EntryOptions& entry);

    // Writes the package's size, digest and signature into the "ext" object of the module's
    // entry (a signature left from an earlier signed package goes when this one is not signed).
    void SetPackageFacts(const std::string& id, const PackageFacts& facts);

    // A text for the user when the answer lacks what the host needs; empty otherwise.
    std::string Warning() const;

    // Turns the answer into the text Save writes; false when it cannot be written as JSON.
    bool Render(std::string& problem);
    // Replaces the file with the rendered text.
    bool Save(std::string& error) const;

private:
    std::string path;
    bool existed = false;
    nlohmann::ordered_json answer;
    std::string text;
};

}  // namespace LiveModule::pack
