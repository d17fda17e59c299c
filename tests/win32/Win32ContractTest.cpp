// The module contract as a Windows build of the factory calls it: a module written in C, whose
// table of virtual functions is laid out by hand in the documented slot order (GCC's layout: the
// destructor takes two entries), loaded by the real factory library in an installation tree.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "LiveModule/LiveModuleExports.h"
#include "LoopbackCatalogue.h"
#include "Win32TestSupport.h"

using lmtest::win32::LoopbackCatalogue;
using lmtest::win32::ProgramFolder;
using lmtest::win32::TempDir;

namespace {

// The catalogue answer that lists only the factory, at the version nobody needs to download.
const char* const kFactoryOnly =
    R"({"error": 0, "data": [{"name": "LiveModuleFactory", "orgname": "LiveModuleFactory.zip",)"
    R"( "resver": "0", "pfile": "{base}packages/LiveModuleFactory.zip"}]})";

template <typename Function>
Function Symbol(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

}  // namespace

TEST(Win32ModuleContract, BinaryLayoutMatchesAnIndependentDescription) {
    if (LMTEST_ALT1_PORT == 0) GTEST_SKIP() << "the first alternative catalogue server is not on loopback";
    LoopbackCatalogue catalogue(LMTEST_ALT1_PORT, kFactoryOnly);
    ASSERT_TRUE(catalogue.listening());

    TempDir base;
    const std::string root = base.path() + "p\\root\\";
    const std::string factoryDir = root + "modules\\LiveModuleFactory\\64bit\\";
    const std::string package = root + "modules\\cmod\\64bit\\";
    for (const std::string& folder : {base.path() + "p", root, root + "modules", root + "modules\\LiveModuleFactory",
                                      factoryDir, root + "modules\\cmod", package}) {
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    }
    const std::string built = ProgramFolder();
    ASSERT_TRUE(CopyFileA((built + "LiveModuleFactory.dll").c_str(), (factoryDir + "LiveModuleFactory.dll").c_str(), TRUE));
    ASSERT_TRUE(CopyFileA((built + "Log.dll").c_str(), (factoryDir + "Log.dll").c_str(), TRUE));
    ASSERT_TRUE(CopyFileA((built + "cmod.dll").c_str(), (package + "cmod_6_3_1_0.dll").c_str(), TRUE));

    HMODULE factoryLibrary = LoadLibraryA((factoryDir + "LiveModuleFactory.dll").c_str());
    ASSERT_NE(factoryLibrary, nullptr);
    auto load = Symbol<LoadLiveModuleFactoryFunc>(factoryLibrary, "LoadLiveModuleFactory");
    auto unload = Symbol<UnloadLiveModuleFactoryFunc>(factoryLibrary, "UnloadLiveModuleFactory");
    int error = 0;
    LiveModule::ILiveModuleFactory* factory = load(1, nullptr, &error);
    ASSERT_NE(factory, nullptr) << "error " << error;
    EXPECT_GE(catalogue.requests(), 1);
    const std::string query = catalogue.LastRequest();
    EXPECT_EQ(query.rfind("GET /orbit/pcPlugin/getPlugins?did=", 0), 0u) << query;
    EXPECT_NE(query.find("&aid=LM_OBS_Studio_Ext"), std::string::npos) << query;
    EXPECT_NE(query.find("\r\nUser-Device: "), std::string::npos) << "the device header travels with the query";
    EXPECT_EQ(std::string(factory->GetConfigDir()), root + "config\\");

    HMODULE library = GetModuleHandleA((package + "cmod_6_3_1_0.dll").c_str());
    ASSERT_NE(library, nullptr) << "the factory loaded the C module";
    auto number = [&](const char* name) { return Symbol<int (*)()>(library, name)(); };
    auto text = [&](const char* name) { return std::string(Symbol<const char* (*)()>(library, name)()); };
    auto lastArg = [&](int index) { return Symbol<intptr_t (*)(int)>(library, "cmod_last_arg")(index); };

    // What the C module read through its hand-laid view of the factory during Initialize.
    EXPECT_EQ(number("cmod_env"), 1);
    EXPECT_EQ(text("cmod_host_version"), factory->GetHostVersion());
    EXPECT_EQ(text("cmod_qt_version"), factory->GetQtVersion());
    EXPECT_EQ(text("cmod_config_dir"), factory->GetConfigDir());
    EXPECT_EQ(text("cmod_log_dir"), factory->GetLogDir());
    EXPECT_EQ(text("cmod_temp_dir"), factory->GetTempDir());
    EXPECT_TRUE(Symbol<bool (*)()>(library, "cmod_host_at_most")());
    EXPECT_EQ(Symbol<void* (*)()>(library, "cmod_net_request")(), factory->QueryModule("net_request", 1));

    // Every slot called through ILiveModule lands in the C function of that slot.
    LiveModule::ILiveModule* m = factory->QueryModule("cmod", 7);
    ASSERT_NE(m, nullptr) << "slot 7 answered 7";
    const std::vector<std::pair<int, std::function<intptr_t()>>> slots = {
        {1, [&] { return intptr_t(m->GetApiVersion() == 202211111u); }},
        {2, [&] { return intptr_t(m->GetFactoryApiVersion() == 202211108u); }},
        {4, [&] { return intptr_t(std::string(m->GetId()) == "cmod"); }},
        {5, [&] { return intptr_t(std::wstring(m->GetName()) == L"c module"); }},
        {6, [&] { return intptr_t(std::string(m->GetVersion()) == "6.6"); }},
        {8, [&] { return intptr_t(std::string(m->GetText8()) == "text8"); }},
        {10, [&] { return intptr_t(!m->IsDisabled()); }},
        {11, [&] { return intptr_t(m->GetValue11() == 11); }},
        {15, [&] { return m->SetIdentify(2), intptr_t(lastArg(0) == 2); }},
        {17, [&] { return intptr_t(m->Invoke17(3, 4) == 304); }},
        {21, [&] { return m->OnModuleLoaded(m), intptr_t(lastArg(0) == reinterpret_cast<intptr_t>(m)); }},
        {23, [&] { return m->OnMessage(5, m), intptr_t(lastArg(1) == reinterpret_cast<intptr_t>(m)); }},
        {24, [&] { return m->Uninitialize(), intptr_t(1); }},
    };
    for (const auto& [slot, invoke] : slots) {
        EXPECT_TRUE(invoke()) << "slot " << slot << " answered wrongly";
        EXPECT_EQ(number("cmod_last_slot"), slot);
    }
    unload(factory);
    FreeLibrary(factoryLibrary);
}
