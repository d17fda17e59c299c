# Helpers for building live module packages. A package is a folder named after the module id with the
# module's library for each Qt version tag in 64bit/, named <id>_<tag>.so; a web plug-in package holds
# its files and the marker <id>.webdll instead.
#
#   livemodule_add_module(<id> SOURCES <file>... [QT_TAGS <tag>...] [OUTPUT_DIR <dir>] [TARGET <name>])
#     Builds the module library once and places it under <dir>/<id>/64bit/ for every tag (default
#     tags: LIVEMODULE_QT_TAGS, see below; default <dir> is ${CMAKE_BINARY_DIR}/packages). The library
#     finds libraries placed beside it through its RPATH ($ORIGIN) and is built without GNU-unique
#     symbols, so that it truly unloads. The target is named <name>, by default <id>.
#
#   LIVEMODULE_QT_TAGS: 6_3_1_0 and 6_4_1_0 (the host's group of interchangeable tags) and the tag of
#     the OBS Studio on the build machine (LIVEMODULE_HOST_QT_TAG, found from the Qt core library the
#     `obs` program links; Debian 12's OBS gives 5_15_8_0). Set LIVEMODULE_HOST_QT_TAG empty for none.
#
#   livemodule_add_web_package(<id> FILES <file>... [OUTPUT_DIR <dir>])
#     Lays out a web plug-in package <dir>/<id>/ with the files and the <id>.webdll marker.
#
# Turn a package folder into a zip for the catalogue with lm-pack.

function(_livemodule_find_host_qt_tag)
  if(DEFINED CACHE{LIVEMODULE_HOST_QT_TAG})
    return()
  endif()
  set(tag "")
  find_program(LIVEMODULE_OBS_PROGRAM obs)
  if(LIVEMODULE_OBS_PROGRAM)
    execute_process(COMMAND ldd ${LIVEMODULE_OBS_PROGRAM} OUTPUT_VARIABLE libraries ERROR_QUIET)
    if(libraries MATCHES "libQt[0-9]+Core\\.so[.0-9]* => ([^ ]+)")
      get_filename_component(core "${CMAKE_MATCH_1}" REALPATH)
      get_filename_component(name "${core}" NAME)
      if(name MATCHES "\\.so\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
        set(tag "${CMAKE_MATCH_1}_${CMAKE_MATCH_2}_${CMAKE_MATCH_3}_0")
      endif()
    endif()
  endif()
  set(LIVEMODULE_HOST_QT_TAG "${tag}" CACHE STRING "Qt tag of the OBS Studio on the build machine (empty: none)")
endfunction()
_livemodule_find_host_qt_tag()
set(LIVEMODULE_QT_TAGS 6_3_1_0 6_4_1_0)
if(LIVEMODULE_HOST_QT_TAG AND NOT LIVEMODULE_HOST_QT_TAG IN_LIST LIVEMODULE_QT_TAGS)
  list(APPEND LIVEMODULE_QT_TAGS ${LIVEMODULE_HOST_QT_TAG})
endif()

function(livemodule_add_module id)
  cmake_parse_arguments(LM "" "OUTPUT_DIR;TARGET" "SOURCES;QT_TAGS" ${ARGN})
  if(NOT LM_TARGET)
    set(LM_TARGET ${id})
  endif()
  if(NOT LM_QT_TAGS)
    set(LM_QT_TAGS ${LIVEMODULE_QT_TAGS})
  endif()
  if(NOT LM_OUTPUT_DIR)
    set(LM_OUTPUT_DIR ${CMAKE_BINARY_DIR}/packages)
  endif()
  set(folder ${LM_OUTPUT_DIR}/${id}/64bit)
  list(GET LM_QT_TAGS 0 first_tag)
  add_library(${LM_TARGET} SHARED ${LM_SOURCES})
  target_link_libraries(${LM_TARGET} PRIVATE LiveModule::sdk)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${LM_TARGET} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-gnu-unique>)
  endif()
  set_target_properties(${LM_TARGET} PROPERTIES
    PREFIX "" OUTPUT_NAME ${id}_${first_tag} SUFFIX "${CMAKE_SHARED_LIBRARY_SUFFIX}"
    LIBRARY_OUTPUT_DIRECTORY ${folder} RUNTIME_OUTPUT_DIRECTORY ${folder}
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    BUILD_RPATH "$ORIGIN" INSTALL_RPATH "$ORIGIN"
    LIVEMODULE_PACKAGE_DIR ${LM_OUTPUT_DIR}/${id})
  list(REMOVE_AT LM_QT_TAGS 0)
  foreach(tag ${LM_QT_TAGS})
    add_custom_command(TARGET ${LM_TARGET} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${LM_TARGET}> ${folder}/${id}_${tag}${CMAKE_SHARED_LIBRARY_SUFFIX}
      VERBATIM)
  endforeach()
endfunction()

function(livemodule_add_web_package id)
  cmake_parse_arguments(LM "" "OUTPUT_DIR" "FILES" ${ARGN})
  if(NOT LM_OUTPUT_DIR)
    set(LM_OUTPUT_DIR ${CMAKE_BINARY_DIR}/packages)
  endif()
  set(folder ${LM_OUTPUT_DIR}/${id})
  set(outputs ${folder}/${id}.webdll)
  set(commands COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
               COMMAND ${CMAKE_COMMAND} -E touch ${folder}/${id}.webdll)
  foreach(file ${LM_FILES})
    get_filename_component(name ${file} NAME)
    get_filename_component(source ${file} ABSOLUTE)
    list(APPEND outputs ${folder}/${name})
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy ${source} ${folder}/${name})
  endforeach()
  add_custom_command(OUTPUT ${outputs} ${commands} DEPENDS ${LM_FILES} VERBATIM)
  add_custom_target(${id} ALL DEPENDS ${outputs})
  set_target_properties(${id} PROPERTIES LIVEMODULE_PACKAGE_DIR ${folder})
endfunction()
