#include "CatalogueTree.h"

#include <filesystem>
#include <system_error>

namespace LiveModule::pack {

void UseCatalogueTree(PackOptions& options) {
    if (options.tree.empty()) return;
    const std::filesystem::path tree(options.tree);
    options.outDir = (tree / "packages").string();
    options.manifest = (tree / "orbit" / "pcPlugin" / "getPlugins").string();
    std::error_code ignored;  // a folder that cannot be made fails the manifest's save with its reason
    std::filesystem::create_directories(tree / "orbit" / "pcPlugin", ignored);
}

}  // namespace LiveModule::pack
