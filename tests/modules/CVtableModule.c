/* A module written in C whose table of virtual functions is laid out by hand in the documented slot
 * order (Itanium ABI: the destructor takes two entries, complete then deleting). The factory loads it
 * and calls it through ILiveModule; its Initialize calls the factory through a hand-laid view of
 * ILiveModuleFactory. A reordered or inserted slot in either header makes the recorded calls disagree. */
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <wchar.h>

#ifdef _WIN32
#define EXPORT __declspec(dllexport)
#else
#define EXPORT __attribute__((visibility("default")))
#endif

typedef struct CModule {
    void* const* vtable;
    void* factory;
} CModule;

/* The last slot called and its arguments, read by the test. */
static int g_lastSlot = -1;
static intptr_t g_lastArgs[2];
static bool g_disabled;

/* What Initialize read through the factory's slots. */
static int g_env = -1;
static const char* g_hostVersion;
static const char* g_qtVersion;
static const char* g_configDir;
static bool g_hostAtMost;
static void* g_netRequest;
static const char* g_logDir;
static const char* g_tempDir;
static int g_enumerated;

static void Note(int slot, intptr_t a, intptr_t b) {
    g_lastSlot = slot;
    g_lastArgs[0] = a;
    g_lastArgs[1] = b;
}

static void CompleteDtor(CModule* self) { (void)self; Note(0, 0, 0); }
static void DeletingDtor(CModule* self) { (void)self; Note(0, 1, 0); }
static uint64_t GetApiVersion(CModule* self) { (void)self; Note(1, 0, 0); return 202211110ULL + 1; }
static uint64_t GetFactoryApiVersion(CModule* self) { (void)self; Note(2, 0, 0); return 202211110ULL - 2; }
static bool Initialize(CModule* self);
static const char* GetId(CModule* self) { (void)self; Note(4, 0, 0); return "cmod"; }
static const wchar_t* GetName(CModule* self) { (void)self; Note(5, 0, 0); return L"c module"; }
static const char* GetVersion(CModule* self) { (void)self; Note(6, 0, 0); return "6.6"; }
static uint64_t GetServiceApiVersion(CModule* self) { (void)self; Note(7, 0, 0); return 7; }
static const char* GetText8(CModule* self) { (void)self; Note(8, 0, 0); return "text8"; }
static void SetDisabled(CModule* self, bool value) { (void)self; Note(9, value, 0); g_disabled = value; }
static bool IsDisabled(CModule* self) { (void)self; Note(10, 0, 0); return g_disabled; }
static intptr_t GetValue11(CModule* self) { (void)self; Note(11, 0, 0); return 11; }
static const char* GetText12(CModule* self) { (void)self; Note(12, 0, 0); return "text12"; }
static const char* GetText13(CModule* self) { (void)self; Note(13, 0, 0); return "text13"; }
static const char* GetText14(CModule* self) { (void)self; Note(14, 0, 0); return "text14"; }
static void SetIdentify(CModule* self, int identify) { (void)self; Note(15, identify, 0); }
static intptr_t GetValue16(CModule* self) { (void)self; Note(16, 0, 0); return 16; }
static intptr_t Invoke17(CModule* self, intptr_t argument, int value) { (void)self; Note(17, argument, value); return argument * 100 + value; }
static bool GetFlag18(CModule* self) { (void)self; Note(18, 0, 0); return true; }
static const char* GetText19(CModule* self) { (void)self; Note(19, 0, 0); return "text19"; }
static void Notify20(CModule* self, intptr_t argument) { (void)self; Note(20, argument, 0); }
static void OnModuleLoaded(CModule* self, void* other) { (void)self; Note(21, (intptr_t)other, 0); }
static void Notify22(CModule* self, intptr_t argument) { (void)self; Note(22, argument, 0); }
static void OnMessage(CModule* self, intptr_t message, void* sender) { (void)self; Note(23, message, (intptr_t)sender); }
static void Uninitialize(CModule* self) { (void)self; Note(24, 0, 0); }

static void* const kModuleTable[] = {
    (void*)CompleteDtor, (void*)DeletingDtor, (void*)GetApiVersion, (void*)GetFactoryApiVersion,
    (void*)Initialize, (void*)GetId, (void*)GetName, (void*)GetVersion, (void*)GetServiceApiVersion,
    (void*)GetText8, (void*)SetDisabled, (void*)IsDisabled, (void*)GetValue11, (void*)GetText12,
    (void*)GetText13, (void*)GetText14, (void*)SetIdentify, (void*)GetValue16, (void*)Invoke17,
    (void*)GetFlag18, (void*)GetText19, (void*)Notify20, (void*)OnModuleLoaded, (void*)Notify22,
    (void*)OnMessage, (void*)Uninitialize,
};
_Static_assert(sizeof kModuleTable / sizeof kModuleTable[0] == 26, "25 slots, the destructor twice");

static CModule g_module = {kModuleTable, NULL};

/* ILiveModuleFactory, entry by entry: two destructor entries, then slots 1 to 10. */
typedef struct FactoryView {
    void* const* vtable;
} FactoryView;
enum {
    kGetEnv = 2, kQueryModule, kEnumModules, kGetConfigDir, kGetLogDir, kGetTempDir,
    kIsHostVersionAtMost, kGetHostVersion, kGetQtVersion, kBroadcastMessage
};

static void CountModule(void* module) {
    (void)module;
    ++g_enumerated;
}

static bool Initialize(CModule* self) {
    Note(3, 0, 0);
    FactoryView* factory = (FactoryView*)self->factory;
    void* const* table = factory->vtable;
    g_env = ((int (*)(void*))table[kGetEnv])(factory);
    g_hostVersion = ((const char* (*)(void*))table[kGetHostVersion])(factory);
    g_qtVersion = ((const char* (*)(void*))table[kGetQtVersion])(factory);
    g_configDir = ((const char* (*)(void*))table[kGetConfigDir])(factory);
    g_logDir = ((const char* (*)(void*))table[kGetLogDir])(factory);
    g_tempDir = ((const char* (*)(void*))table[kGetTempDir])(factory);
    ((void (*)(void*, void (*)(void*)))table[kEnumModules])(factory, CountModule);
    g_hostAtMost = ((bool (*)(void*, const char*))table[kIsHostVersionAtMost])(factory, "99.0");
    g_netRequest = ((void* (*)(void*, const char*, uint64_t))table[kQueryModule])(factory, "net_request", 202211110ULL);
    ((void (*)(void*, intptr_t, void*))table[kBroadcastMessage])(factory, 4242, self);
    return true;
}

EXPORT void* LiveModuleLoad(void* factory) {
    g_module.factory = factory;
    return &g_module;
}

EXPORT void LiveModuleUnload(void* module) {
    (void)module;
    Note(-2, 0, 0);
}

/* What the test reads back. */
EXPORT int cmod_last_slot(void) { return g_lastSlot; }
EXPORT intptr_t cmod_last_arg(int index) { return g_lastArgs[index]; }
EXPORT int cmod_env(void) { return g_env; }
EXPORT const char* cmod_host_version(void) { return g_hostVersion; }
EXPORT const char* cmod_qt_version(void) { return g_qtVersion; }
EXPORT const char* cmod_config_dir(void) { return g_configDir; }
EXPORT const char* cmod_log_dir(void) { return g_logDir; }
EXPORT const char* cmod_temp_dir(void) { return g_tempDir; }
EXPORT int cmod_enumerated(void) { return g_enumerated; }
EXPORT bool cmod_host_at_most(void) { return g_hostAtMost; }
EXPORT void* cmod_net_request(void) { return g_netRequest; }
