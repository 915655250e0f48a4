# Included by src/CMakeLists.txt in the Windows build: swaps the platform layer's POSIX-only
# files for their Win32 forms, and gives the core and the engine the POSIX calls over Win32.
set(SEJFKO_WIN32_REPLACED
  platform/cancel_event platform/socket_api platform/tls_channel platform/program_arguments
  archive/aes_zip)
foreach(name IN LISTS SEJFKO_WIN32_REPLACED)
  list(REMOVE_ITEM SEJFKO_CORE_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${name}.cpp)
  get_filename_component(stem ${name} NAME)
  list(APPEND SEJFKO_CORE_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/platform/win32/${stem}.cpp)
endforeach()

list(APPEND SEJFKO_CORE_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/platform/win32/locale_names.cpp)

add_library(sejfko_win32_posix STATIC
  platform/win32/posix_files.cpp platform/win32/posix_directories.cpp)
target_include_directories(sejfko_win32_posix PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})

# The core and the engine: the same POSIX layer; the engine with the encryption stand-in and the
# plain DLL name.
function(sejfko_adapt_engine_for_windows)
  target_link_libraries(sejfko_core PUBLIC sejfko_win32_posix ws2_32 shell32)
  get_target_property(sources zipengine SOURCES)
  list(TRANSFORM sources REPLACE "\\.\\./archive/aes_zip\\.cpp$" "../platform/win32/aes_zip.cpp")
  set_target_properties(zipengine PROPERTIES SOURCES "${sources}" PREFIX "")
  target_link_libraries(zipengine PRIVATE sejfko_win32_posix)
endfunction()

# A version resource (name, description, version) for a program or library of the build.
function(sejfko_add_version_resource target description)
  get_target_property(type ${target} TYPE)
  set(SEJFKO_RC_NAME ${target})
  set(SEJFKO_RC_DESCRIPTION "${description}")
  if(type STREQUAL "EXECUTABLE")
    set(SEJFKO_RC_FILE_TYPE VFT_APP)
    set(SEJFKO_RC_FILE_NAME ${target}.exe)
  else()
    set(SEJFKO_RC_FILE_TYPE VFT_DLL)
    set(SEJFKO_RC_FILE_NAME ${target}.dll)
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/platform/win32/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
