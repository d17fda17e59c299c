#include "updater/CatalogueUrl.h"

namespace LiveModule {

std::string CatalogueBaseUrl(int env) {
    switch (env) {
        case 1: return LIVEMODULE_CATALOGUE_URL_ALT1;
        case 2: return LIVEMODULE_CATALOGUE_URL_ALT2;
        default: return LIVEMODULE_CATALOGUE_URL_DEFAULT;
    }
}

std::string CatalogueQueryUrl(const std::string& baseUrl, const std::string& deviceId) {
    return baseUrl + "orbit/pcPlugin/getPlugins?did=" + deviceId + "&aid=LM_OBS_Studio_Ext";
}

}  // namespace LiveModule
