// lm-pack: checks a built module package folder the way the host will and turns it into the zip the
// catalogue serves, optionally adding the module to a catalogue manifest.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "CatalogueManifest.h"
#include "CatalogueTree.h"
#include "Findings.h"
#include "GnuUnique.h"
#include "HostTags.h"
#include "LibraryProbe.h"
#include "PackOptions.h"
#include "PackageLayout.h"
#include "PackageSigning.h"
#include "PackageTree.h"
#include "PackageZip.h"

using namespace LiveModule::pack;
namespace fs = std::filesystem;

namespace {

constexpr int kRefused = 1;
constexpr int kUsage = 64;

void CheckLibraries(const PackagePlan& plan, Findings& findings) {
    for (const LibraryFile& library : plan.libraries) {
        const ProbeResult result = ProbeLibrary(library.path, plan.id, library.tag);
        for (const std::string& problem : result.problems) findings.Problem(library.relative + ": " + problem);
        const std::vector<std::string> unique = GnuUniqueSymbols(library.path);
        if (!unique.empty()) {
            findings.Note(library.relative + " carries " + std::to_string(unique.size()) + " GNU-unique symbol" +
                          (unique.size() == 1 ? "" : "s") + " (such as " + unique.front() +
                          "): the host can never unload it, so a new release of this module only runs after the "
                          "host restarts; build it with -fno-gnu-unique (livemodule_add_module does)");
        }
        if (result.problems.empty()) {
            findings.passed.push_back(library.relative + ": module " + result.id + " " + result.version +
                                      " loads, passes the host's checks and unloads");
        }
    }
}

fs::path Resolved(const std::string& path, std::error_code& error) {
    fs::path resolved = fs::weakly_canonical(path, error);
    return resolved.has_filename() ? resolved : resolved.parent_path();
}

// The zip must not end up inside what it packs.
void CheckOutput(const PackOptions& options, Findings& findings) {
    std::error_code error;
    const fs::path package = Resolved(options.folder, error);
    const fs::path out = Resolved(options.outDir, error);
    if (error) return;
    if (std::mismatch(package.begin(), package.end(), out.begin(), out.end()).first == package.end()) {
        findings.Problem("the output folder " + options.outDir + " lies inside the package folder; the zip would pack itself");
    }
}

int Refuse(const std::string& name, const Findings& findings) {
    std::fprintf(stderr, "lm-pack: %s: refused, nothing written (%zu problem%s):\n", name.c_str(), findings.problems.size(),
                 findings.problems.size() == 1 ? "" : "s");
    for (const std::string& problem : findings.problems) std::fprintf(stderr, "  - %s\n", problem.c_str());
    for (const std::string& note : findings.notes) std::fprintf(stderr, "  note: %s\n", note.c_str());
    return kRefused;
}

}  // namespace

int main(int argc, char** argv) {
    PackOptions options;
    const std::string usageError = ParseOptions(argc, argv, options);
    if (options.help) {
        PrintUsage(stdout);
        return 0;
    }
    if (!usageError.empty()) {
        std::fprintf(stderr, "lm-pack: %s\n", usageError.c_str());
        PrintUsage(stderr);
        return kUsage;
    }

    if (!options.makeKey.empty()) {
        std::string error;
        if (!MakeKeyPair(options.makeKey, error)) {
            std::fprintf(stderr, "lm-pack: %s\n", error.c_str());
            return kRefused;
        }
        std::printf("lm-pack: wrote %s.key (private: keep it off the build machines) and %s.pub\n",
                    options.makeKey.c_str(), options.makeKey.c_str());
        return 0;
    }

    UseCatalogueTree(options);
    Findings findings;
    PackagePlan plan;
    if (!CheckNames(options, plan, findings)) return Refuse(options.folder, findings);
    const std::vector<TreeEntry> tree = ListPackageTree(options.folder, findings);
    if (tree.empty()) return Refuse(plan.id, findings);
    CheckLayout(tree, options.tags, plan, findings);
    CheckLibraries(plan, findings);
    CheckOutput(options, findings);

    CatalogueManifest manifest;
    bool added = false;
    if (!options.manifest.empty()) {
        std::string problem;
        if (manifest.Load(options.manifest, problem)) {
            added = manifest.Upsert(plan.id, options.entry);
            if (!manifest.Render(problem)) findings.Problem(problem);
            const std::string warning = manifest.Warning();
            if (!warning.empty()) findings.Note(warning);
        } else {
            findings.Problem(problem);
        }
    }
    if (!findings.problems.empty()) return Refuse(plan.id, findings);

    for (const std::string& line : findings.passed) std::printf("lm-pack: %s\n", line.c_str());
    if (!plan.webPlugin) {
        std::vector<std::string> found;
        for (const LibraryFile& library : plan.libraries) found.push_back(library.tag);
        std::string missing;
        std::printf("lm-pack: %s loads in %s\n", plan.id.c_str(), HostsThatLoad(found, missing).c_str());
        if (!missing.empty()) findings.Note(missing);
    }
    if (plan.webPlugin) std::printf("lm-pack: %s is a web plug-in package (%s.webdll)\n", plan.id.c_str(), plan.id.c_str());
    for (const std::string& note : findings.notes) std::fprintf(stderr, "lm-pack: note: %s\n", note.c_str());

    std::error_code created;
    fs::create_directories(options.outDir, created);
    const std::string zipPath = (fs::path(options.outDir) / (plan.id + ".zip")).string();
    ZipSummary summary;
    std::string error;
    if (created || !WritePackageZip(tree, plan.id, zipPath, summary, error)) {
        std::fprintf(stderr, "lm-pack: %s: %s\n", plan.id.c_str(),
                     created ? ("cannot create " + options.outDir + ": " + created.message()).c_str() : error.c_str());
        return kRefused;
    }
    std::printf("lm-pack: wrote %s (%zu entries under %s/, %ju bytes)\n", zipPath.c_str(), summary.entries, plan.id.c_str(),
                summary.bytes);

    // Described after writing: the catalogue entry vouches for exactly these bytes.
    PackageFacts facts;
    if (!DescribePackage(zipPath, options.signKey, facts, error)) {
        std::fprintf(stderr, "lm-pack: %s: %s; the zip is removed\n", plan.id.c_str(), error.c_str());
        fs::remove(zipPath, created);
        return kRefused;
    }
    std::printf("lm-pack: sha256 %s%s\n", facts.sha256.c_str(), facts.signature.empty() ? "" : ", signed");
    if (!options.manifest.empty()) {
        manifest.SetPackageFacts(plan.id, facts);
        if (!manifest.Render(error) || !manifest.Save(error)) {
            std::fprintf(stderr, "lm-pack: %s: the zip was written but the manifest was not: %s\n", plan.id.c_str(), error.c_str());
            return kRefused;
        }
        std::printf("lm-pack: %s %s.zip version %s in %s\n", added ? "added" : "updated", plan.id.c_str(),
                    options.entry.version.c_str(), options.manifest.c_str());
    }
    return 0;
}
