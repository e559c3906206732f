# `cmake --build BUILD --target packages` writes into BUILD/packages/:
#   - Debian packages made by CPack from the install components (cmake/Install.cmake):
#     libcorvane0 (the four shared libraries), libcorvane-dev (headers, CMake package, .pc),
#     corvane (the client, its manual page and bash completion), corvane-mock-server; Depends
#     from dpkg-shlibdeps and between the packages;
#   - a Python wheel that carries the shared libraries beside the package (bindings/python);
#   - a NuGet package: the C# binding compiled with mcs and the native libraries (bindings/csharp),
#     with the Windows DLLs too when CORVANE_WINDOWS_BUILD_DIR names a Windows build tree;
#   - with that Windows build tree, the zip a Windows developer unpacks (cmake/windows-zip.py).
# Linux builds with shared libraries and the tools only: the packages are made of them.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux" OR NOT BUILD_SHARED_LIBS OR NOT CORVANE_BUILD_TOOLS
   OR NOT CORVANE_INSTALL OR CMAKE_CROSSCOMPILING)
  return()
endif()

set(CORVANE_PACKAGE_MAINTAINER "Corvane developers <corvane-dev@example.org>"
    CACHE STRING "Maintainer field of the Debian packages")
set(CORVANE_WINDOWS_BUILD_DIR "" CACHE PATH
    "A Windows build tree whose DLLs the NuGet package carries (empty: Linux libraries only)")
set(corvane_packages_dir ${PROJECT_BINARY_DIR}/packages)
set(corvane_package_docs ${PROJECT_BINARY_DIR}/package-docs)

# Each Debian package's copyright and changelog, in /usr/share/doc/PACKAGE; installed only when
# CPack asks for the component (EXCLUDE_FROM_ALL), never by a plain `cmake --install`.
set(corvane_deb_components runtime development tools server)
set(corvane_deb_names libcorvane0 libcorvane-dev corvane corvane-mock-server)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE corvane_license)
# The packages are native (version without a Debian revision): their changelog is one entry that
# points at CHANGELOG.md, dated by CORVANE_RELEASE_DATE so that two builds give the same bytes.
set(CORVANE_RELEASE_DATE "Mon, 07 Dec 2026 00:00:00 +0000"
    CACHE STRING "Date of the Debian packages' changelog entry (RFC 2822)")
set(corvane_doc_outputs)
foreach(component name IN ZIP_LISTS corvane_deb_components corvane_deb_names)
  set(doc ${corvane_package_docs}/${name})
  file(WRITE ${doc}/copyright.new
       "Corvane: typed calls onto the platform server's REST interface\n\n${corvane_license}")
  configure_file(${doc}/copyright.new ${doc}/copyright COPYONLY)
  file(WRITE ${doc}/changelog.new
       "${name} (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
       "  * Corvane ${PROJECT_VERSION}; the changes are in CHANGELOG.md of the sources.\n\n"
       " -- ${CORVANE_PACKAGE_MAINTAINER}  ${CORVANE_RELEASE_DATE}\n")
  configure_file(${doc}/changelog.new ${doc}/changelog COPYONLY)
  add_custom_command(OUTPUT ${doc}/changelog.gz
                     COMMAND ${CORVANE_GZIP} -9nkf ${doc}/changelog
                     DEPENDS ${doc}/changelog)
  list(APPEND corvane_doc_outputs ${doc}/changelog.gz)
  install(FILES ${doc}/copyright ${doc}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${name} COMPONENT ${component}
          EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "The Corvane authors")
set(CPACK_PACKAGE_CONTACT ${CORVANE_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${corvane_packages_dir})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${corvane_deb_components})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps finds the project's own libraries in the build; their package dependency is the
# exact version below, the system's libraries' come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/lib)
set(corvane_runtime_depends "libcorvane0 (= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libcorvane0)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The loader's cache is refreshed by dpkg's ldconfig trigger.
file(WRITE ${corvane_package_docs}/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${corvane_package_docs}/triggers)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "typed calls onto a video platform server's REST interface\n\
libCorvane turns the platform server's REST operations into typed C and\n\
C++ calls, over its own HTTP gateway (libOstrel, libZENTA, over libcurl)\n\
and JSON library (libquim).")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libcorvane-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS ${corvane_runtime_depends})
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "development files of libCorvane\n\
The C, C++ and gateway headers, the link libraries, a CMake package\n\
(find_package(Corvane)) and a pkg-config file (corvane).")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME corvane)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION net)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS ${corvane_runtime_depends})
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "command-line client of the video platform server's REST interface\n\
corvane runs every operation of libCorvane as a subcommand against a\n\
platform server, with TLS, tokens, proxies and retries; --simulate runs\n\
a simulated server in-process.")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME corvane-mock-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS ${corvane_runtime_depends})
set(CPACK_COMPONENT_SERVER_DESCRIPTION
    "simulated video platform server for testing libCorvane clients\n\
corvane-mock-server answers the platform server's REST operations with\n\
invented data, with fault injection, for tests and demonstrations.")
include(CPack)

# The targets whose files the packages carry.
set(corvane_package_targets Corvane Ostrel ZENTA quim corvane corvane-mock-server corvane_manual)
add_custom_target(
  packages
  COMMAND ${CMAKE_COMMAND} -E make_directory ${corvane_packages_dir}
  COMMAND cpack --config ${PROJECT_BINARY_DIR}/CPackConfig.cmake
  COMMAND bash ${PROJECT_SOURCE_DIR}/bindings/python/build-wheel.sh ${PROJECT_BINARY_DIR}
          ${corvane_packages_dir}
  COMMAND python3 ${PROJECT_SOURCE_DIR}/bindings/csharp/build-nupkg.py ${PROJECT_BINARY_DIR}
          ${corvane_packages_dir} ${PROJECT_VERSION} "${CORVANE_WINDOWS_BUILD_DIR}"
  COMMAND "$<$<BOOL:${CORVANE_WINDOWS_BUILD_DIR}>:python3;${PROJECT_SOURCE_DIR}/cmake/windows-zip.py;${CORVANE_WINDOWS_BUILD_DIR};${corvane_packages_dir};${PROJECT_VERSION};${PROJECT_SOURCE_DIR}>"
  COMMAND_EXPAND_LISTS
  DEPENDS ${corvane_doc_outputs}
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
  VERBATIM)
add_dependencies(packages ${corvane_package_targets})
