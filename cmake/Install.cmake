# `cmake --install`: the public headers, the four libraries (shared, or static with
# BUILD_SHARED_LIBS=OFF), the command-line client and the simulated server when they are built, a
# CMake package (find_package(Corvane) gives Corvane::Corvane, which brings Corvane::ZENTA along)
# and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# A project that takes Corvane in with add_subdirectory or FetchContent links it into its own
# programs and installs those: Corvane's headers, libraries and packages stay out of its install
# unless it asks for them.
option(CORVANE_INSTALL "Install Corvane's files with cmake --install" ${corvane_is_top_level})
if(NOT CORVANE_INSTALL)
  return()
endif()

# Installed programs find the installed libraries next door.
set(CMAKE_INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")

set(corvane_public ${PROJECT_SOURCE_DIR}/src/Logical/Corvane/public)

# Static libraries carry their private dependencies into the package as link-only entries; the
# project's own interface targets among them add nothing to a consumer's build but must be known.
set(corvane_exported Corvane Ostrel ZENTA quim)
if(NOT BUILD_SHARED_LIBS)
  foreach(dependency rapidjson corvane_warnings)
    if(TARGET ${dependency})
      get_target_property(imported ${dependency} IMPORTED)
      if(NOT imported)
        list(APPEND corvane_exported ${dependency})
      endif()
    endif()
  endforeach()
endif()
# Components, one per package (cmake/Packaging.cmake): runtime (the shared libraries), development
# (headers, link libraries, CMake package, .pc), tools (the client), server (the simulated server).
install(TARGETS ${corvane_exported} EXPORT CorvaneTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                NAMELINK_COMPONENT development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(FILES ${corvane_public}/Corvane.h ${corvane_public}/CorvaneExport.h
              ${corvane_public}/CorvaneRecords.h ${corvane_public}/CorvaneCOps.h
              ${corvane_public}/CorvaneCxxOps.h
              ${corvane_public}/CorvaneC.h ${corvane_public}/CorvaneCxx.h
              ${corvane_public}/CorvaneSession.h
        DESTINATION ${CORVANE_INSTALL_INCLUDEDIR} COMPONENT development)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/zenta ${PROJECT_SOURCE_DIR}/include/quim
        DESTINATION ${CORVANE_INSTALL_INCLUDEDIR} COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT development)
foreach(program corvane:tools corvane-mock-server:server)
  string(REPLACE ":" ";" program ${program})
  list(GET program 0 target)
  list(GET program 1 component)
  if(TARGET ${target})
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "${CMAKE_INSTALL_RPATH}")
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
  endif()
endforeach()
foreach(library Corvane Ostrel ZENTA quim)
  set_target_properties(${library} PROPERTIES INSTALL_RPATH "$ORIGIN")
endforeach()

# Shared and static builds install into one prefix side by side: each kind has its own targets
# file (CorvaneSharedTargets.cmake, CorvaneStaticTargets.cmake) and .pc file (corvane.pc,
# corvane-static.pc); CorvaneConfig.cmake is the same for both and includes the kind asked for.
set(corvane_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Corvane)
if(BUILD_SHARED_LIBS)
  set(corvane_kind Shared)
  set(corvane_pc_name corvane)
else()
  set(corvane_kind Static)
  set(corvane_pc_name corvane-static)
endif()
install(EXPORT CorvaneTargets NAMESPACE Corvane:: FILE Corvane${corvane_kind}Targets.cmake
        DESTINATION ${corvane_cmake_dir} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/CorvaneConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/CorvaneConfig.cmake
                              INSTALL_DESTINATION ${corvane_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/CorvaneConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/CorvaneConfig.cmake
              ${PROJECT_BINARY_DIR}/CorvaneConfigVersion.cmake
        DESTINATION ${corvane_cmake_dir} COMPONENT development)

# The .pc file finds its prefix relative to itself, so an installed tree can be moved.
file(RELATIVE_PATH CORVANE_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
# A static build needs libcurl (the system's shared one: Requires.private would drag in the
# static dependencies of libcurl itself) and OpenSSL under it, threads and, for a program linked by a C compiler's
# driver, the C++ standard library and libm at the consumer's link (pkg-config --static), and
# the *_STATIC defines in every compile.
# A program linked against the shared libraries names only those it calls: libCorvane and
# libZENTA (sessions); libCorvane brings libOstrel and libcorvane-quim itself.
if(BUILD_SHARED_LIBS)
  set(CORVANE_PC_LIBS "-lCorvane -lZENTA")
  set(CORVANE_PC_STATIC "")
  set(CORVANE_PC_CFLAGS "")
else()
  # The archives by their paths: with the shared libraries in the same folder, -lCorvane would
  # link those.
  set(CORVANE_PC_LIBS "")
  foreach(library Corvane Ostrel ZENTA quim)
    string(APPEND CORVANE_PC_LIBS " \${libdir}/$<TARGET_FILE_NAME:${library}>")
  endforeach()
  string(STRIP "${CORVANE_PC_LIBS}" CORVANE_PC_LIBS)
  set(CORVANE_PC_STATIC "Libs.private: -lcurl -lssl -lcrypto -lz -pthread -lstdc++ -lm")
  set(CORVANE_PC_CFLAGS " -DCORVANE_STATIC -DZENTA_STATIC -DQUIM_STATIC")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/corvane.pc.in
               ${PROJECT_BINARY_DIR}/${corvane_pc_name}.pc.in @ONLY)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/${corvane_pc_name}.pc
     INPUT ${PROJECT_BINARY_DIR}/${corvane_pc_name}.pc.in)
install(FILES ${PROJECT_BINARY_DIR}/${corvane_pc_name}.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
