#pragma once

#include "PackOptions.h"

namespace LiveModule::pack {

// A static catalogue tree that any static web server serves as it is: the catalogue answer at the
// path the host's query asks for (orbit/pcPlugin/getPlugins; the query string is not part of the
// path) and the packages in packages/ beside it. Points the zip and the manifest of `options` into
// options.tree; package URLs are --base + "packages/<id>.zip".
void UseCatalogueTree(PackOptions& options);

}  // namespace LiveModule::pack
