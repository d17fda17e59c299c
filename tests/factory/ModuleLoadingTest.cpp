#include <dlfcn.h>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "LiveModule/LiveModule.h"
#include "TestSupport.h"
#include "net_request/NetRequest.h"

namespace {

using lmtest::InstallationTree;
using lmtest::Journal;
using lmtest::JournalOf;
using lmtest::TempDir;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

size_t IndexOf(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) - list.begin();
}

// A started factory over a tree in environment 1 (every package loads, in scan order).
struct StartedFactory {
    explicit StartedFactory(const InstallationTree& tree, int env = 1)
        : catalogue(lmtest::StartCatalogue(env)), library(tree.factoryPath) {
        lmtest::ClearJournal();
        factory = library.Load(env, &error);
    }
    ~StartedFactory() {
        if (factory) library.Unload(factory);
    }
    std::unique_ptr<LiveModule::tools::CatalogueServer> catalogue;
    lmtest::FactoryLibrary library;
    int error = 0;
    LiveModule::ILiveModuleFactory* factory = nullptr;
};

std::string Library(const InstallationTree& tree, const std::string& folder) {
    return tree.modulesDir + folder + "/64bit/" + folder + "_6_3_1_0.so";
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
    lmtest::WriteFile(tree.modulesDir + "nolib/64bit/other_6_3_1_0.so", "no build for this folder's name");
    lmtest::WriteFile(tree.modulesDir + "stray-file.so", "not a folder");

    std::string log;
    std::vector<std::string> journal;
    {
        StartedFactory started(tree);
        ASSERT_NE(started.factory, nullptr) << started.error;
        journal = Journal();
        // Accepted: the good ones and the ones whose versions are at the edges of the range.
        // Accepted modules are found by id; the default service version 0 keeps them from QueryModule.
        for (const char* id : {"beta", "highapi", "lowfactory"}) {
            EXPECT_TRUE(Contains(tree.Log(), std::string("Load module success {id: ") + id)) << id;
        }
        log = tree.Log();
    }

    const std::string failed = "[LiveModuleFactory] Load module failed {reslut: ";
    EXPECT_TRUE(Contains(log, failed + "Get interface failed, path: " + Library(tree, "noexport") + "}")) << log;
    EXPECT_TRUE(Contains(log, failed + "Create module instance failed, path: " + Library(tree, "nullinst") + "}"));
    EXPECT_TRUE(Contains(log, failed + "Module id is null, path: " + Library(tree, "emptyid") + "}"));
    EXPECT_TRUE(Contains(log, failed + "Module id is null, path: " + Library(tree, "nullid") + "}"));
    EXPECT_TRUE(Contains(log, failed + "Invalid version {api version: 202211109, factory api version : 202211110, "
                                       "real api version: 202211110, real factory version: 202211110}, path: " +
                                  Library(tree, "lowapi") + "}"));
    EXPECT_TRUE(Contains(log, failed + "Invalid version {api version: 202211110, factory api version : 202211111, "
                                       "real api version: 202211110, real factory version: 202211110}, path: " +
                                  Library(tree, "highfactory") + "}"));
    // The system's own text for a file that is no library, then the path.
    EXPECT_TRUE(Contains(log, failed + Library(tree, "garbage"))) << log;
    EXPECT_TRUE(Contains(log, ", path: " + Library(tree, "garbage") + "}"));

    // "dupe" reports the id "alpha": whichever of the two the scan met second is refused.
    const bool dupeRefused = Contains(log, failed + "Module already loaded {id: alphapath: " + Library(tree, "alpha") +
                                               "}, path: " + Library(tree, "dupe") + "}");
    const bool alphaRefused = Contains(log, failed + "Module already loaded {id: alphapath: " + Library(tree, "dupe") +
                                                "}, path: " + Library(tree, "alpha") + "}");
    EXPECT_NE(dupeRefused, alphaRefused) << log;

    // Each refusal after the library was loaded releases what it got.
    EXPECT_EQ(JournalOf("nullinst:"), (std::vector<std::string>{"nullinst:Load"}));
    for (const char* id : {"lowapi", "highfactory"}) {
        const std::string prefix = std::string(id) + ":";
        EXPECT_EQ(JournalOf(prefix), (std::vector<std::string>{prefix + "Load", prefix + "Unload"})) << id;
    }
    EXPECT_TRUE(Contains(log, "[LiveModuleFactory] Begin unload module { name:  }"));
    EXPECT_TRUE(Contains(log, "[LiveModuleFactory] Unload module finished"));
    EXPECT_FALSE(Contains(log, "nolib")) << "a folder without a build for its name is skipped silently";
    EXPECT_TRUE(lmtest::Exists(tree.modulesDir + "nolib")) << "and kept";
}

TEST(ModuleLoading, InitialisationAndIntroductionFollowRegistryOrder) {
    TempDir base;
    InstallationTree tree(base.path() + "/root");
    tree.AddPackage("alpha", "alpha");
    tree.AddPackage("beta", "beta");
    tree.AddPackage("initfail", "initfail");
    StartedFactory started(tree);
    ASSERT_NE(started.factory, nullptr);

    // Registry order = load order here (env 1, every zorder 0, stable sort).
    std::vector<std::string> order;
    for (const std::string& entry : Journal()) {
        const size_t colon = entry.find(':');
        if (entry.substr(colon) == ":Load") order.push_back(entry.substr(0, colon));
    }
    ASSERT_EQ(order.size(), 3u);
    std::vector<std::string> expected;
    for (const std::string& id : order) expected.push_back(id + ":Initialize");
    std::vector<std::string> initialised;
    for (const std::string& entry : Journal()) {
        if (Contains(entry, ":Initialize")) initialised.push_back(entry);
    }
    EXPECT_EQ(initialised, expected);

    // The survivors in registry order; each is told about the others, the failed one about nobody.
    std::vector<std::string> survivors;
    for (const std::string& id : order) {
        if (id != "initfail") survivors.push_back(id);
    }
    std::vector<std::string> introductions;
    for (const std::string& entry : Journal()) {
        if (Contains(entry, "OnModuleLoaded")) introductions.push_back(entry);
    }
    const std::string x = survivors[0], y = survivors[1];
    EXPECT_EQ(introductions, (std::vector<std::string>{y + ":OnModuleLoaded(" + x + ")", x + ":OnModuleLoaded(" + y + ")"}));
    EXPECT_LT(IndexOf(Journal(), "initfail:Initialize"), IndexOf(Journal(), "initfail:Unload"));
    EXPECT_TRUE(Contains(tree.Log(), "[LiveModuleFactory] Module initialize failed { id: initfail }"));
    EXPECT_EQ(started.factory->QueryModule("initfail", 1), nullptr);
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
    EXPECT_STREQ(alpha->GetId(), "alpha");
    EXPECT_EQ(factory->QueryModule("alpha", 6), nullptr);
    EXPECT_EQ(factory->QueryModule("alpha", 0), nullptr);
    EXPECT_EQ(factory->QueryModule("beta", 1), nullptr);
    EXPECT_EQ(factory->QueryModule("nope", 1), nullptr);
    EXPECT_EQ(factory->QueryModule("Alpha", 1), nullptr) << "ids compare case-sensitively";

    auto* net = factory->QueryModule("net_request", 202211110);
    ASSERT_NE(net, nullptr);
    EXPECT_STREQ(net->GetId(), "net_request");
    EXPECT_STREQ(net->GetVersion(), "1.0.0.5");
    EXPECT_EQ(std::wstring(net->GetName()), L"net_request_module");

    static std::vector<std::string> enumerated;
    enumerated.clear();
    factory->EnumModules([](LiveModule::ILiveModule* module) { enumerated.push_back(module->GetId()); });
    std::sort(enumerated.begin(), enumerated.end());
    EXPECT_EQ(enumerated, (std::vector<std::string>{"alpha", "beta"})) << "net_request is not a registry entry";
    alpha->SetDisabled(true);
    enumerated.clear();
    factory->EnumModules([](LiveModule::ILiveModule* module) { enumerated.push_back(module->GetId()); });
    EXPECT_EQ(enumerated, (std::vector<std::string>{"beta"}));
    EXPECT_EQ(factory->QueryModule("alpha", 1), nullptr) << "a disabled module is not handed out";
    alpha->SetDisabled(false);
    factory->EnumModules(nullptr);

    lmtest::ClearJournal();
    factory->BroadcastMessage(77, alpha);
    EXPECT_EQ(Journal(), (std::vector<std::string>{"beta:OnMessage(77,alpha)"}));

    const std::string log = tree.Log();
    EXPECT_TRUE(Contains(log, "[LiveModuleFactory] QueryModule failed, module api version smaller {id: alpha, minApiVer: 6, realApiVer: 5}"));
    EXPECT_TRUE(Contains(log, "[LiveModuleFactory] QueryModule failed, module api version smaller {id: beta, minApiVer: 1, realApiVer: 0}"));
    EXPECT_TRUE(Contains(log, "[LiveModuleFactory] QueryModule failed, module not found {id: nope}"));
    EXPECT_TRUE(Contains(log, "[LiveModuleFactory] QueryModule failed, module disabled {id: alpha}"));
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

    void* library = dlopen(Library(tree, "cmod").c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(library, nullptr) << "the factory loaded the C module";
    auto symbol = [&](const char* name) {
        void* address = dlsym(library, name);
        EXPECT_NE(address, nullptr) << name;
        return address;
    };
    auto lastSlot = reinterpret_cast<int (*)()>(symbol("cmod_last_slot"));
    auto lastArg = reinterpret_cast<intptr_t (*)(int)>(symbol("cmod_last_arg"));
    auto text = [&](const char* name) { return std::string(reinterpret_cast<const char* (*)()>(symbol(name))()); };

    // What the C module read through its hand-laid view of the factory during Initialize.
    EXPECT_EQ(reinterpret_cast<int (*)()>(symbol("cmod_env"))(), factory->GetEnv());
    EXPECT_EQ(text("cmod_host_version"), factory->GetHostVersion());
    EXPECT_EQ(text("cmod_qt_version"), factory->GetQtVersion());
    EXPECT_EQ(text("cmod_config_dir"), factory->GetConfigDir());
    EXPECT_EQ(text("cmod_log_dir"), factory->GetLogDir());
    EXPECT_EQ(text("cmod_temp_dir"), factory->GetTempDir());
    EXPECT_TRUE(reinterpret_cast<bool (*)()>(symbol("cmod_host_at_most"))());
    EXPECT_EQ(reinterpret_cast<void* (*)()>(symbol("cmod_net_request"))(), factory->QueryModule("net_request", 1));
    EXPECT_EQ(reinterpret_cast<int (*)()>(symbol("cmod_enumerated"))(), 2);

    LiveModule::ILiveModule* module = factory->QueryModule("cmod", 7);
    ASSERT_NE(module, nullptr) << "slot 7 answered 7";
    EXPECT_EQ(module->GetApiVersion(), 202211111u);
    EXPECT_EQ(lastSlot(), 1);
    EXPECT_EQ(module->GetFactoryApiVersion(), 202211108u);
    EXPECT_EQ(lastSlot(), 2);
    EXPECT_STREQ(module->GetId(), "cmod");
    EXPECT_EQ(lastSlot(), 4);
    EXPECT_EQ(std::wstring(module->GetName()), L"c module");
    EXPECT_EQ(lastSlot(), 5);
    EXPECT_STREQ(module->GetVersion(), "6.6");
    EXPECT_EQ(lastSlot(), 6);
    EXPECT_STREQ(module->GetText8(), "text8");
    EXPECT_EQ(lastSlot(), 8);
    module->SetDisabled(true);
    EXPECT_EQ(lastSlot(), 9);
    EXPECT_EQ(lastArg(0), 1);
    EXPECT_TRUE(module->IsDisabled());
    EXPECT_EQ(lastSlot(), 10);
    module->SetDisabled(false);
    EXPECT_EQ(module->GetValue11(), 11);
    EXPECT_STREQ(module->GetText12(), "text12");
    EXPECT_STREQ(module->GetText13(), "text13");
    EXPECT_STREQ(module->GetText14(), "text14");
    EXPECT_EQ(lastSlot(), 14);
    module->SetIdentify(2);
    EXPECT_EQ(lastSlot(), 15);
    EXPECT_EQ(lastArg(0), 2);
    EXPECT_EQ(module->GetValue16(), 16);
    EXPECT_EQ(module->Invoke17(3, 4), 304);
    EXPECT_EQ(lastSlot(), 17);
    EXPECT_TRUE(module->GetFlag18());
    EXPECT_STREQ(module->GetText19(), "text19");
    module->Notify20(20);
    EXPECT_EQ(lastSlot(), 20);
    EXPECT_EQ(lastArg(0), 20);
    module->OnModuleLoaded(module);
    EXPECT_EQ(lastSlot(), 21);
    module->Notify22(22);
    EXPECT_EQ(lastSlot(), 22);
    module->OnMessage(5, module);
    EXPECT_EQ(lastSlot(), 23);
    EXPECT_EQ(lastArg(0), 5);
    EXPECT_EQ(lastArg(1), reinterpret_cast<intptr_t>(module));
    module->Uninitialize();
    EXPECT_EQ(lastSlot(), 24);

    // The C module's Initialize broadcast through slot 10 of the factory.
    EXPECT_LT(IndexOf(Journal(), "alpha:OnMessage(4242,cmod)"), Journal().size());
    dlclose(library);
}

// Modules reach the INetRequest view of "net_request" by layout; that layout must be the class's own.
TEST(ModuleContract, TheNetRequestViewSitsWhereModulesLookForIt) {
    LiveModule::NetRequest service;
    LiveModule::ILiveModule* asModule = &service;
    EXPECT_EQ(LiveModule::AsNetRequest(asModule), static_cast<LiveModule::INetRequest*>(&service));
    EXPECT_EQ(LiveModule::AsNetRequest(nullptr), nullptr);
}
