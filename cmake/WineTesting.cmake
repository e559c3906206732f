# Running the Windows build's tests on the Linux build machine: every Windows test program runs
# under wine (CMAKE_CROSSCOMPILING_EMULATOR), and tests that need a server get a Linux program
# started for them on 127.0.0.1 (corvane_wine_with_server). Included by the top-level
# CMakeLists.txt for a Windows cross build with tests, before any target is defined.

find_program(CORVANE_WINE NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH
             DOC "wine loader for 64-bit Windows programs")
find_program(CORVANE_WINESERVER NAMES wineserver PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH
             DOC "wine server of the wine loader")
if(NOT CORVANE_WINE OR NOT CORVANE_WINESERVER)
  message(FATAL_ERROR "The Windows tests run under wine: install Debian's wine64 package, or "
                      "configure with -DCORVANE_BUILD_TESTS=OFF")
endif()

# The wine prefix lives in the build tree, so a build never touches the user's ~/.wine.
set(CORVANE_WINEPREFIX ${PROJECT_BINARY_DIR}/wineprefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${PROJECT_BINARY_DIR}/wine-run.sh @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/wine-run.sh)
endif()
# GoogleTest programs list their tests when CTest runs, not while building: the build itself never
# starts wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# The Linux programs the Windows tests talk to, built with the host's compiler in a build of their
# own (build/windows/host).
include(ExternalProject)
option(CORVANE_HOST_MOCK_SERVER "Also build corvane-mock-server for the host, for wine tests" OFF)
set(CORVANE_HOST_BIN ${PROJECT_BINARY_DIR}/host/bin)
set(CORVANE_ECHO_SERVER ${CORVANE_HOST_BIN}/corvane-echo-server)
set(CORVANE_HOSTILE_SERVER ${CORVANE_HOST_BIN}/corvane-hostile-server)
set(CORVANE_HOST_MOCK_SERVER_PROGRAM ${CORVANE_HOST_BIN}/corvane-mock-server)
ExternalProject_Add(corvane_host_tools
  SOURCE_DIR ${PROJECT_SOURCE_DIR}/tests/windows/host
  BINARY_DIR ${PROJECT_BINARY_DIR}/host
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
             -DCORVANE_SOURCE_DIR=${PROJECT_SOURCE_DIR}
             -DCORVANE_WERROR=${CORVANE_WERROR}
             -DCORVANE_HOST_MOCK_SERVER=${CORVANE_HOST_MOCK_SERVER}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${CORVANE_ECHO_SERVER} ${CORVANE_HOSTILE_SERVER})

# corvane_wine_with_server(<target> SERVER <host program> [<argument>...])
#
# Every test that runs <target> (add_test(COMMAND <target> ...) or gtest_discover_tests) runs it
# under wine with a fresh instance of the Linux program started for it first. The program prints
# "listening on <URL>" as its first line; the URL reaches the Windows program as the environment
# variable CORVANE_SERVER_URL and in place of "{server_url}" in the test's arguments. The program
# is stopped when the Windows program ends. For instance:
#
#   corvane_wine_with_server(corvane SERVER ${CORVANE_HOST_MOCK_SERVER_PROGRAM} --port 0)
#   add_test(NAME cli.devices COMMAND corvane --server {server_url} devices)
function(corvane_wine_with_server target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SERVER")
  if(NOT arg_SERVER)
    message(FATAL_ERROR "corvane_wine_with_server(${target}): SERVER <program> is required")
  endif()
  set_property(TARGET ${target} PROPERTY CROSSCOMPILING_EMULATOR
               ${PROJECT_SOURCE_DIR}/cmake/with-linux-server.sh ${arg_SERVER} --
               ${CMAKE_CROSSCOMPILING_EMULATOR})
  # The server must exist when the build lists the target's tests.
  add_dependencies(${target} corvane_host_tools)
endfunction()
