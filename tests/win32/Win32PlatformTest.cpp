// The Win32 platform layer under real calls: code pages, version resources, libraries, module paths,
// front-end functions and network adapters.
#include "TestSupport.h"  // first: its catalogue server includes winsock2.h, which must precede windows.h

#include <gtest/gtest.h>

#include <windows.h>
// The platform calls of these names, not the Win32 macros for their ANSI forms.
#undef LoadLibrary
#undef GetProfileInt

#include <string>
#include <vector>

#include "DeviceIdentity.h"
#include "FileUtils.h"
#include "HostFrontend.h"
#include "platform/DynamicLibrary.h"
#include "platform/FrontendApi.h"
#include "platform/NetAdapters.h"
#include "platform/ProcessInfo.h"
#include "platform/TextCodec.h"
#include "platform/VersionResource.h"

namespace platform = LiveModule::platform;
using lmtest::ReadFile;
using lmtest::TempDir;
using lmtest::WriteFile;

namespace {

// The folder of the running test program, with a trailing "\".
std::string ProgramFolder() {
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string program = path;
    return program.substr(0, program.find_last_of('\\') + 1);
}

}  // namespace

TEST(Win32TextCodec, Cp936AndUtf8BadInputFollowsTheChoice) {
    using platform::Codeset;
    using platform::OnBadInput;
    const std::wstring thai = L"\u0E01";  // not in code page 936
    EXPECT_EQ(platform::EncodeText(Codeset::Cp936, thai, OnBadInput::Replace), std::optional<std::string>("?"));
    EXPECT_EQ(platform::EncodeText(Codeset::Cp936, thai, OnBadInput::Fail), std::nullopt);
    EXPECT_EQ(platform::DecodeText(Codeset::Utf8, "a\xFF" "b", OnBadInput::Replace),
              std::optional<std::wstring>(L"a\uFFFDb"));
    EXPECT_EQ(platform::DecodeText(Codeset::Utf8, "a\xFF" "b", OnBadInput::Fail), std::nullopt);
    EXPECT_EQ(platform::EncodeText(Codeset::Utf8, L"\u4E2D", OnBadInput::Fail),
              std::optional<std::string>("\xE4\xB8\xAD"));
    EXPECT_EQ(platform::DecodeText(Codeset::Ansi, std::string("a\0b", 3), OnBadInput::Fail),
              std::optional<std::wstring>(std::wstring(L"a\0b", 3)));
}

TEST(Win32TextCodec, Utf16LeIsTheWideUnitsAndBadInputFollowsTheChoice) {
    using platform::Codeset;
    using platform::OnBadInput;
    const std::string bytes("A\0\x3D\xD8\x00\xDE", 6);  // "A", then U+1F600 as a surrogate pair
    EXPECT_EQ(platform::DecodeText(Codeset::Utf16Le, bytes, OnBadInput::Fail), std::wstring(L"A\xD83D\xDE00"));
    EXPECT_EQ(platform::EncodeText(Codeset::Utf16Le, L"A\xD83D\xDE00", OnBadInput::Fail), bytes);
    const std::string loneAndOdd("\x3D\xD8" "B\0" "C", 5);
    EXPECT_EQ(platform::DecodeText(Codeset::Utf16Le, loneAndOdd, OnBadInput::Replace), std::wstring(L"\xFFFD" L"B\xFFFD"));
    EXPECT_FALSE(platform::DecodeText(Codeset::Utf16Le, loneAndOdd, OnBadInput::Fail));
    EXPECT_FALSE(platform::DecodeText(Codeset::Utf16Le, std::string("B\0C", 3), OnBadInput::Fail));
}

TEST(Win32VersionResource, ReadsBuiltBinariesAndGivesNothingForFilesWithoutOne) {
    const std::string folder = ProgramFolder();
    EXPECT_EQ(LiveModule::GetFileProductVersion(folder + "lm-host.exe"), "30.0.0");
    EXPECT_EQ(LiveModule::GetFileProductVersion(folder + "LiveModuleFactory.dll"), "1.0.0.5");
    std::map<std::string, std::string> values;
    ASSERT_TRUE(platform::ReadVersionResource(folder + "LiveModuleFactory.dll", values));
    EXPECT_EQ(values["\\VarFileInfo\\Translation"], "040904b0");

    TempDir dir;
    WriteFile(dir.path() + "\\text.dll", "not a library");
    const std::string library = ReadFile(folder + "LiveModuleFactory.dll");
    WriteFile(dir.path() + "\\truncated.dll", library.substr(0, 1024));
    for (const char* name : {"text.dll", "truncated.dll", "missing.dll"}) {
        EXPECT_EQ(LiveModule::GetFileProductVersion(dir.path() + "\\" + name), "") << name;
    }
}

namespace {
void CountEvent(int event, void* data) {
    if (event == platform::kFrontendEventExit) ++*static_cast<int*>(data);
}
}  // namespace

TEST(Win32Libraries, LoadPathsAndTheHostsFrontEndFunctions) {
    const std::string folder = ProgramFolder();
    platform::LibraryHandle log = platform::LoadLibrary(folder + "Log.dll");
    ASSERT_NE(log, nullptr);
    EXPECT_NE(platform::GetLibrarySymbol(log, "DoLog"), nullptr);
    EXPECT_EQ(platform::GetLibrarySymbol(log, "Absent"), nullptr);
    platform::FreeLibrary(log);
    std::string error;
    EXPECT_EQ(platform::LoadLibrary(folder + "missing.dll", &error), nullptr);
    EXPECT_FALSE(error.empty()) << "the system's text for the failure";
    platform::SetLibraryDirectory(folder);
    EXPECT_EQ(platform::GetLibraryDirectory(), folder);
    platform::SetLibraryDirectory("");

    std::string executable;
    std::string own;
    ASSERT_TRUE(platform::GetHostExecutablePath(executable));
    ASSERT_TRUE(platform::GetModulePathFromAddress(reinterpret_cast<const void*>(&CountEvent), own));
    EXPECT_EQ(own, executable);
    EXPECT_EQ(executable.rfind(folder, 0), 0u);
    const std::string appData = platform::GetLocalAppDataDir();
    ASSERT_FALSE(appData.empty());
    EXPECT_NE(appData.back(), '\\');

    int exits = 0;
    ASSERT_TRUE(platform::AddFrontendEventCallback(&CountEvent, &exits));
    LiveModule::host::FireFrontendEvent(platform::kFrontendEventExit);
    ASSERT_TRUE(platform::RemoveFrontendEventCallback(&CountEvent, &exits));
    LiveModule::host::FireFrontendEvent(platform::kFrontendEventExit);
    EXPECT_EQ(exits, 1);
}

TEST(Win32NetAdapters, ListsAdaptersWithAddressesAndAsksWlanSafely) {
    std::vector<platform::AdapterEntry> adapters;
    ASSERT_TRUE(platform::ListNetAdapters(adapters));
    for (const platform::AdapterEntry& adapter : adapters) {
        EXPECT_FALSE(adapter.name.empty());
        EXPECT_FALSE(adapter.ipAddresses.empty());
        EXPECT_LE(adapter.addressLength, platform::kMaxAdapterAddressLength);
    }
    EXPECT_EQ(platform::GetConnectedWirelessNetwork("{00000000-0000-0000-0000-000000000000}"), "");
    EXPECT_FALSE(LiveModule::MakeUserDevice().empty());
}
