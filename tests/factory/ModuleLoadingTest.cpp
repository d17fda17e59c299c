#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>

#include <gtest/gtest.h>

#include "FactoryTestSupport.h"
#include "LiveModule/LiveModule.h"
#include "TestSupport.h"
#include "RegistryList.h"
#include "net_request/NetRequest.h"
#include "platform/DynamicLibrary.h"

namespace {

using lmtest::InstallationTree;
using lmtest::Journal;
using lmtest::JournalOf;
using lmtest::Lib;
using lmtest::Native;
using lmtest::StartedFactory;
using lmtest::TempDir;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string Library(const InstallationTree& tree, const std::string& folder) {
    return Native(tree.modulesDir + folder + "/64bit/" + Lib(folder + "_6_3_1_0"));
}

std::vector<std::string> Sorted(std::vector<std::string> list) {
    std::sort(list.begin(), list.end());
    return list;
}

}  // namespace

TEST(ModuleLoading, EveryRejectionIsLoggedReleasedAndCostsNoOtherModule) {
    TempDir base;
    InstallationTree tree(base.path() + "/root");
    for (const char* variant : {"alpha", "beta", "lowapi", "highapi", "highfactory", "lowfactory", "nullinst",
                                "emptyid", "nullid", "noexport", "dupe"}) {
        tree.AddPackage(variant, variant);
    }
    lmtest::WriteFile(Library(tree, "garbage"), "this is not a library");
    lmtest::WriteFile(Native(tree.modulesDir + "nolib/64bit/" + Lib("other_6_3_1_0")), "no build for this folder's name");
    lmtest::WriteFile(tree.factoryDir + Lib("LiveModuleFactory_6_3_1_0"), "never loaded");
    {
        StartedFactory started(tree);
        ASSERT_NE(started.factory, nullptr) << started.error;
    }
    const std::string log = tree.Log();
    // Accepted: the good ones and those whose versions sit at the edges of the range.
    for (const char* id : {"beta", "highapi", "lowfactory"}) {
        EXPECT_TRUE(Contains(log, std::string("Load module success {id: ") + id + ", version: 1.0.0, zorder: 0, disabled: 0 }"));
    }
    const std::string failed = "[LiveModuleFactory] Load module failed {reslut: ";
    const std::string badVersion = "Invalid version {api version: %a, factory api version : %f, real api version: "
                                   "202211110, real factory version: 202211110}";
    auto version = [&](const char* api, const char* factoryApi) {
        std::string text = badVersion;
        text.replace(text.find("%a"), 2, api);
        text.replace(text.find("%f"), 2, factoryApi);
        return text;
    };
    for (const auto& [folder, reason] : std::vector<std::pair<std::string, std::string>>{
             {"noexport", "Get interface failed"},
             {"nullinst", "Create module instance failed"},
             {"emptyid", "Module id is null"},
             {"nullid", "Module id is null"},
             {"lowapi", version("202211109", "202211110")},
             {"highfactory", version("202211110", "202211111")}}) {
        EXPECT_TRUE(Contains(log, failed + reason + ", path: " + Library(tree, folder) + "}")) << folder << "\n" << log;
    }
    // The system's own text for a file that is no library, then the path.
    const std::string garbage = Library(tree, "garbage");
    const size_t garbageEnd = log.find(", path: " + garbage + "}");
    const size_t garbageLine = garbageEnd == std::string::npos ? std::string::npos : log.rfind(failed, garbageEnd);
    ASSERT_NE(garbageLine, std::string::npos) << log;
    const std::string systemText = log.substr(garbageLine + failed.size(), garbageEnd - garbageLine - failed.size());
    EXPECT_EQ(systemText.find('\n'), std::string::npos) << systemText;
#ifdef _WIN32
    EXPECT_FALSE(systemText.empty()) << "the system's message for the error code";
#else
    EXPECT_EQ(systemText.rfind(garbage, 0), 0u) << "dlerror names the file first: " << systemText;
#endif
    // "dupe" reports the id "alpha": whichever of the two the scan met second is refused.
    auto refused = [&](const std::string& kept, const std::string& second) {
        return Contains(log, failed + "Module already loaded {id: alphapath: " + Library(tree, kept) + "}, path: " +
                                 Library(tree, second) + "}");
    };
    EXPECT_NE(refused("alpha", "dupe"), refused("dupe", "alpha")) << log;

    // A refusal after the library was loaded releases what it got.
    EXPECT_EQ(JournalOf("nullinst:"), (std::vector<std::string>{"nullinst:Load"}));
    EXPECT_EQ(JournalOf("lowapi:"), (std::vector<std::string>{"lowapi:Load", "lowapi:Unload"}));
    EXPECT_TRUE(Contains(log, "[LiveModuleFactory] Begin unload module { name:  }"));
    EXPECT_TRUE(Contains(log, "[LiveModuleFactory] Unload module finished"));
    EXPECT_FALSE(Contains(log, "nolib") || Contains(log, "LiveModuleFactory_6_3_1_0")) << "skipped without a line";
    EXPECT_TRUE(lmtest::Exists(tree.modulesDir + "nolib")) << "and kept";
}

TEST(ModuleLoading, InitialisationAndIntroductionFollowRegistryOrder) {
    TempDir base;
    InstallationTree tree(base.path() + "/root");
    // More modules than the pass fetches ahead, so its fetching wraps round.
    for (const char* id : {"alpha", "beta", "initfail", "m1", "m2", "m3", "m4", "m5", "m6", "m7"}) tree.AddPackage(id, id);
    StartedFactory started(tree);
    ASSERT_NE(started.factory, nullptr);

    // Registry order = load order here (env 1, every zorder 0, stable sort).
    const std::vector<std::string> order = lmtest::IdsThatReceived("Load");
    ASSERT_EQ(order.size(), 10u);
    EXPECT_EQ(lmtest::IdsThatReceived("Initialize"), order);
    // The survivors are told about each other in registry order; nobody about the failed one.
    std::vector<std::string> survivors = order;
    survivors.erase(std::find(survivors.begin(), survivors.end(), "initfail"));
    std::vector<std::string> introductions, expected;
    for (const std::string& entry : Journal()) {
        if (Contains(entry, "OnModuleLoaded")) introductions.push_back(entry);
    }
    for (const std::string& loaded : survivors)
        for (const std::string& told : survivors)
            if (told != loaded) expected.push_back(told + ":OnModuleLoaded(" + loaded + ")");
    EXPECT_EQ(introductions, expected);
    EXPECT_EQ(JournalOf("initfail:"), (std::vector<std::string>{"initfail:Load", "initfail:SetDisabled(0)",
                                                                "initfail:SetIdentify(0)", "initfail:Initialize",
                                                                "initfail:Unload"}));
    EXPECT_TRUE(Contains(tree.Log(), "[LiveModuleFactory] Module initialize failed { id: initfail }"));
}

TEST(ModuleRegistry, QueriesEnumerationAndBroadcastsAnswerAsTheContractSays) {
    TempDir base;
    InstallationTree tree(base.path() + "/root");
    tree.AddPackage("alpha", "alpha");  // service API version 5
    tree.AddPackage("beta", "beta");    // keeps the default service API version 0
    StartedFactory started(tree);
    LiveModule::ILiveModuleFactory* factory = started.factory;
    ASSERT_NE(factory, nullptr);

    LiveModule::ILiveModule* alpha = factory->QueryModule("alpha", 5);
    ASSERT_NE(alpha, nullptr);
    for (const auto& [id, minimum] : std::vector<std::pair<const char*, uint64_t>>{
             {"alpha", 6}, {"alpha", 0}, {"beta", 1}, {"nope", 1}, {"Alpha", 1}, {nullptr, 1}, {"net_request", 0},
             {"net_request", 202211111}}) {
        EXPECT_EQ(factory->QueryModule(id, minimum), nullptr) << (id ? id : "null") << " " << minimum;
    }
    LiveModule::ILiveModule* net = factory->QueryModule("net_request", 202211110);
    ASSERT_NE(net, nullptr);
    EXPECT_EQ(factory->QueryModule("net_request", 1), net);

    static std::vector<std::string> enumerated;
    auto enumerate = [&] {
        enumerated.clear();
        factory->EnumModules([](LiveModule::ILiveModule* module) { enumerated.push_back(module->GetId()); });
        return Sorted(enumerated);
    };
    EXPECT_EQ(enumerate(), (std::vector<std::string>{"alpha", "beta"})) << "net_request is not a registry entry";
    alpha->SetDisabled(true);
    EXPECT_EQ(enumerate(), (std::vector<std::string>{"beta"}));
    EXPECT_EQ(factory->QueryModule("alpha", 1), nullptr) << "a disabled module is not handed out";
    alpha->SetDisabled(false);
    factory->EnumModules(nullptr);

    lmtest::ClearJournal();
    factory->BroadcastMessage(77, alpha);
    EXPECT_EQ(Journal(), (std::vector<std::string>{"beta:OnMessage(77,alpha)"}));

    const std::string log = tree.Log();
    const std::string query = "[LiveModuleFactory] QueryModule failed, module ";
    EXPECT_TRUE(Contains(log, query + "api version smaller {id: alpha, minApiVer: 6, realApiVer: 5}"));
    EXPECT_TRUE(Contains(log, query + "api version smaller {id: beta, minApiVer: 1, realApiVer: 0}"));
    EXPECT_TRUE(Contains(log, query + "not found {id: nope}"));
    EXPECT_TRUE(Contains(log, query + "disabled {id: alpha}"));
    EXPECT_FALSE(Contains(log, "{id: net_request")) << "refusals for net_request are silent";
}

// A module whose table of virtual functions is laid out by hand in C, in the documented slot order.
TEST(ModuleContract, BinaryLayoutMatchesAnIndependentDescription) {
    TempDir base;
    InstallationTree tree(base.path() + "/root");
    tree.AddPackage("cmod", "cmod");
    tree.AddPackage("alpha", "alpha");
    StartedFactory started(tree);
    LiveModule::ILiveModuleFactory* factory = started.factory;
    ASSERT_NE(factory, nullptr);

    ASSERT_TRUE(LiveModule::platform::IsLibraryLoaded(Library(tree, "cmod"))) << "the factory loaded the C module";
    // A reference of our own to the image the factory loaded, given back before the factory goes.
    const std::unique_ptr<void, void (*)(void*)> library(LiveModule::platform::LoadLibrary(Library(tree, "cmod")),
                                                         LiveModule::platform::FreeLibrary);
    auto symbol = [&](const char* name) {
        void* address = LiveModule::platform::GetLibrarySymbol(library.get(), name);
        if (!address) throw std::runtime_error(std::string("the C module exports no ") + name);
        return address;
    };
    auto number = [&](const char* name) { return reinterpret_cast<int (*)()>(symbol(name))(); };
    auto text = [&](const char* name) { return std::string(reinterpret_cast<const char* (*)()>(symbol(name))()); };
    auto lastArg = [&](int index) { return reinterpret_cast<intptr_t (*)(int)>(symbol("cmod_last_arg"))(index); };

    // What the C module read through its hand-laid view of the factory during Initialize.
    EXPECT_EQ(number("cmod_env"), factory->GetEnv());
    EXPECT_EQ(text("cmod_host_version"), factory->GetHostVersion());
    EXPECT_EQ(text("cmod_qt_version"), factory->GetQtVersion());
    EXPECT_EQ(text("cmod_config_dir"), factory->GetConfigDir());
    EXPECT_EQ(text("cmod_log_dir"), factory->GetLogDir());
    EXPECT_EQ(text("cmod_temp_dir"), factory->GetTempDir());
    EXPECT_TRUE(reinterpret_cast<bool (*)()>(symbol("cmod_host_at_most"))());
    EXPECT_EQ(reinterpret_cast<void* (*)()>(symbol("cmod_net_request"))(), factory->QueryModule("net_request", 1));
    EXPECT_EQ(number("cmod_enumerated"), 2);
    EXPECT_FALSE(JournalOf("alpha:OnMessage(4242,cmod)").empty()) << "broadcast through the factory's slot 10";

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
        {9, [&] { return m->SetDisabled(false), intptr_t(1); }},
        {10, [&] { return intptr_t(!m->IsDisabled()); }},
        {11, [&] { return intptr_t(m->GetValue11() == 11); }},
        {12, [&] { return intptr_t(std::string(m->GetText12()) == "text12"); }},
        {13, [&] { return intptr_t(std::string(m->GetText13()) == "text13"); }},
        {14, [&] { return intptr_t(std::string(m->GetText14()) == "text14"); }},
        {15, [&] { return m->SetIdentify(2), intptr_t(lastArg(0) == 2); }},
        {16, [&] { return intptr_t(m->GetValue16() == 16); }},
        {17, [&] { return intptr_t(m->Invoke17(3, 4) == 304); }},
        {18, [&] { return intptr_t(m->GetFlag18()); }},
        {19, [&] { return intptr_t(std::string(m->GetText19()) == "text19"); }},
        {20, [&] { return m->Notify20(20), intptr_t(lastArg(0) == 20); }},
        {21, [&] { return m->OnModuleLoaded(m), intptr_t(lastArg(0) == reinterpret_cast<intptr_t>(m)); }},
        {22, [&] { return m->Notify22(22), intptr_t(lastArg(0) == 22); }},
        {23, [&] { return m->OnMessage(5, m), intptr_t(lastArg(1) == reinterpret_cast<intptr_t>(m)); }},
        {24, [&] { return m->Uninitialize(), intptr_t(1); }},
    };
    for (const auto& [slot, invoke] : slots) {
        EXPECT_TRUE(invoke()) << "slot " << slot << " answered wrongly";
        EXPECT_EQ(number("cmod_last_slot"), slot);
    }
}

// Modules reach the INetRequest view of "net_request" by layout; that layout must be the class's own.
TEST(ModuleContract, TheNetRequestViewSitsWhereModulesLookForIt) {
    LiveModule::NetRequest service;
    LiveModule::ILiveModule* asModule = &service;
    EXPECT_EQ(LiveModule::AsNetRequest(asModule), static_cast<LiveModule::INetRequest*>(&service));
    EXPECT_EQ(LiveModule::AsNetRequest(nullptr), nullptr);
}

namespace {

// A module that reports whatever id it is given.
class NamedModule : public LiveModule::ILiveModule {
public:
    explicit NamedModule(std::string id) : id(std::move(id)) {}
    bool Initialize() override { return true; }
    const char* GetId() override { return id.c_str(); }
    const wchar_t* GetName() override { return L""; }
    const char* GetVersion() override { return ""; }
    const char* GetText8() override { return ""; }
    void SetDisabled(bool) override {}
    bool IsDisabled() override { return false; }
    std::string id;
};

}  // namespace

// The registry's look-ups by path and by module id stay true through sorting, erasing (also after
// the module was released, as UnloadModule leaves an entry) and appending again.
TEST(RegistryList, FindsEntriesByPathAndIdThroughSortEraseAndAppend) {
    std::vector<std::unique_ptr<NamedModule>> objects;
    LiveModule::RegistryList registry;
    auto add = [&](const std::string& id, int zorder) {
        objects.push_back(std::make_unique<NamedModule>(id));
        LiveModule::LoadedModule entry;
        entry.id = id, entry.path = "/m/" + id + ".so", entry.zorder = zorder, entry.module = objects.back().get();
        registry.push_back(entry);
    };
    auto state = [&] {
        std::string text;
        for (const auto& entry : registry) text += entry.id + " ";
        for (const char* id : {"a", "b", "c", "d"}) {
            const auto byId = registry.FindById(id), byPath = registry.FindByPath(std::string("/m/") + id + ".so");
            text += std::string("|") + id + (byId == registry.end() ? "-" : byId->id) +
                    (byPath == registry.end() ? "-" : byPath->id);
        }
        return text;
    };
    add("a", 3), add("b", 2), add("c", 1);
    EXPECT_EQ(state(), "a b c |aaa|bbb|ccc|d--");
    registry.sort([](const auto& x, const auto& y) { return x.zorder < y.zorder; });
    EXPECT_EQ(state(), "c b a |aaa|bbb|ccc|d--");
    objects[1]->id = "renamed";  // the id reported when appended still finds it
    EXPECT_EQ(state(), "c b a |aaa|bbb|ccc|d--");
    auto b = registry.FindById("b");
    b->module = nullptr;  // released before its entry goes
    registry.erase(b);
    EXPECT_EQ(state(), "c a |aaa|b--|ccc|d--");
    add("b", 0), add("d", 0);
    EXPECT_EQ(state(), "c a b d |aaa|bbb|ccc|ddd");
    registry.pop_front();
    EXPECT_EQ(state(), "a b d |aaa|bbb|c--|ddd");
    while (!registry.empty()) registry.pop_front();
    EXPECT_EQ(state(), "|a--|b--|c--|d--");
}
