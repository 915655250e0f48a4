# The Windows build (a cross build with MinGW-w64, see cmake/mingw-w64-x86_64.cmake): the core,
# the engine library, the command line and the core's tests. No desktop program (Debian ships no
# Qt for MinGW), no benchmarks. Deflate and CRC-32 come from zlib behind libdeflate's interface;
# there is no OpenSSL for the target, so archive encryption and FTP over TLS are left out and say
# so when asked for.
set(SEJFKO_WITH_GUI OFF CACHE BOOL "" FORCE)
set(SEJFKO_BUILD_BENCH OFF CACHE BOOL "" FORCE)

# Everything static: the programs run from their directory without MinGW's runtime DLLs.
add_link_options(-static)

# GoogleTest from Debian's sources, with this toolchain, before our own settings apply
# (it names its targets GTest::gtest, GTest::gmock, ... itself).
if(SEJFKO_BUILD_TESTS)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

find_package(Threads REQUIRED)
find_package(ZLIB REQUIRED)

# nlohmann-json is headers only: the host's copy, without the rest of the host's includes.
set(SEJFKO_JSON_INCLUDE ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${SEJFKO_JSON_INCLUDE})
file(CREATE_LINK /usr/include/nlohmann ${SEJFKO_JSON_INCLUDE}/nlohmann SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json INTERFACE ${SEJFKO_JSON_INCLUDE})

add_library(PkgConfig::DEFLATE INTERFACE IMPORTED)
target_include_directories(PkgConfig::DEFLATE INTERFACE
  ${PROJECT_SOURCE_DIR}/src/platform/win32/deflate)
target_link_libraries(PkgConfig::DEFLATE INTERFACE ZLIB::ZLIB)
add_library(OpenSSL::SSL INTERFACE IMPORTED)
add_library(OpenSSL::Crypto INTERFACE IMPORTED)

# The POSIX calls of the portable code go to src/platform/win32 (UTF-8 paths over the UTF-16
# interfaces); the runtime's own old POSIX names stay out of the way.
add_compile_definitions(NO_OLDNAMES WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE
  _WIN32_WINNT=0x0A00 __USE_MINGW_ANSI_STDIO=1 _POSIX_THREAD_SAFE_FUNCTIONS)
include_directories(BEFORE SYSTEM ${PROJECT_SOURCE_DIR}/src/platform/win32/posix)
add_compile_options(-include ${PROJECT_SOURCE_DIR}/src/platform/win32/posix/prelude.h)
