#pragma once

// How the system names files: the folder separator and the endings of libraries and programs.
namespace LiveModule::platform {

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
constexpr const char* kPathSeparatorText = "\\";
constexpr const char* kLibrarySuffix = ".dll";
constexpr const char* kProgramSuffix = ".exe";
#else
constexpr char kPathSeparator = '/';
constexpr const char* kPathSeparatorText = "/";
constexpr const char* kLibrarySuffix = ".so";
constexpr const char* kProgramSuffix = "";
#endif

// Every character that separates folders in a path: Windows takes "/" as well as "\".
#ifdef _WIN32
constexpr const char* kPathSeparators = "\\/";
#else
constexpr const char* kPathSeparators = "/";
#endif

}  // namespace LiveModule::platform
