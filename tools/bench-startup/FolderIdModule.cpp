// A module whose id is the name of the package folder its library was loaded from
// (<modules>/<id>/64bit/<id>_<tag>.so): one build copied into any number of package folders gives
// that many distinct modules. Every other call is as cheap as a module can make it.
#include <dlfcn.h>

#include <string>

#include "LiveModule/LiveModule.h"

namespace {

std::string FolderId() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&FolderId), &info) || !info.dli_fname) return std::string();
    const std::string path = info.dli_fname;
    const std::size_t bits = path.rfind("/64bit/");
    if (bits == std::string::npos || bits == 0) return std::string();
    const std::size_t slash = path.rfind('/', bits - 1);
    const std::size_t folder = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(folder, bits - folder);
}

class FolderIdModule : public LiveModule::ILiveModule {
public:
    FolderIdModule() : id(FolderId()) {}
    bool Initialize() override { return true; }
    const char* GetId() override { return id.c_str(); }
    const wchar_t* GetName() override { return L"folder id module"; }
    const char* GetVersion() override { return "1.0.0"; }
    const char* GetText8() override { return ""; }
    void SetDisabled(bool value) override { disabled = value; }
    bool IsDisabled() override { return disabled; }

private:
    const std::string id;
    bool disabled = false;
};

}  // namespace

LIVEMODULE_EXPORT LiveModule::ILiveModule* LiveModuleLoad(LiveModule::ILiveModuleFactory*) {
    return new FolderIdModule();  // module-boundary contract: LiveModuleUnload deletes it
}

LIVEMODULE_EXPORT void LiveModuleUnload(LiveModule::ILiveModule* module) {
    delete module;
}
