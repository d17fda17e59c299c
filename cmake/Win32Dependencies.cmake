# The libraries of the Windows build, under the names the Linux build's targets use, so the rest of
# the tree links the same way. zlib comes from libz-mingw-w64-dev; minizip, libcurl and libsodium are built
# from Debian's source packages by scripts/build-windows-deps.sh into LIVEMODULE_WIN32_DEPS; the
# JSON library is header-only and used from nlohmann-json3-dev as is.
set(LIVEMODULE_WIN32_DEPS "${CMAKE_BINARY_DIR}/deps/prefix" CACHE PATH
    "Where scripts/build-windows-deps.sh installed minizip, libcurl and libsodium")
list(APPEND CMAKE_FIND_ROOT_PATH ${LIVEMODULE_WIN32_DEPS})

enable_language(RC)
find_package(Threads REQUIRED)
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
find_package(CURL CONFIG REQUIRED)

# The runtime of the compiler goes into every binary: what we ship needs only system DLLs.
add_link_options(-static)

add_library(PkgConfig::MINIZIP STATIC IMPORTED)
set_target_properties(PkgConfig::MINIZIP PROPERTIES
  IMPORTED_LOCATION ${LIVEMODULE_WIN32_DEPS}/lib/libminizip.a
  INTERFACE_INCLUDE_DIRECTORIES ${LIVEMODULE_WIN32_DEPS}/include/minizip
  INTERFACE_LINK_LIBRARIES ZLIB::ZLIB)

# Ed25519 for the package signatures (CNG has none), built by scripts/build-windows-deps.sh.
add_library(Sodium::sodium STATIC IMPORTED)
set_target_properties(Sodium::sodium PROPERTIES
  IMPORTED_LOCATION ${LIVEMODULE_WIN32_DEPS}/lib/libsodium.a
  INTERFACE_INCLUDE_DIRECTORIES ${LIVEMODULE_WIN32_DEPS}/include
  INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC)

# Only the nlohmann folder of the host's include tree, never the tree itself (glibc's headers).
set(json_include ${CMAKE_BINARY_DIR}/third-party-include)
if(NOT EXISTS ${json_include}/nlohmann)
  file(MAKE_DIRECTORY ${json_include})
  file(CREATE_LINK /usr/include/nlohmann ${json_include}/nlohmann SYMBOLIC)
endif()
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${json_include})

# livemodule_version_resource(<target> <product version> <description>)
# Gives a program or library a VERSIONINFO resource (language 0409, code page 04b0).
function(livemodule_version_resource target version description)
  string(REGEX MATCHALL "[0-9]+" numbers "${version}.0.0.0.0")
  list(SUBLIST numbers 0 4 numbers)
  string(REPLACE ";" "," LM_RC_NUMBERS "${numbers}")
  set(LM_RC_VERSION ${version})
  set(LM_RC_DESCRIPTION ${description})
  set(LM_RC_NAME $<TARGET_FILE_NAME:${target}>)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/VersionInfo.rc.in ${rc}.in @ONLY)
  file(GENERATE OUTPUT ${rc} INPUT ${rc}.in)
  target_sources(${target} PRIVATE ${rc})
endfunction()
