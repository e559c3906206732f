# Header-only dependencies (rapidjson, CLI11), found the CMake way first and in Debian's
# /usr/include last.
#
#   corvane_header_only_dependency(<target> <probe header> <folder under the include folder>
#                                  [PACKAGE <CMake package> [<imported target>]])
#
# defines the INTERFACE target <target> that carries the dependency's include folder:
#   1. the package's config file (find_package(<package> CONFIG): vcpkg, Conan, an install
#      prefix on CMAKE_PREFIX_PATH), through its imported target or its <package>_INCLUDE_DIRS;
#   2. <probe header> on CMake's usual include search path (CMAKE_PREFIX_PATH, CMAKE_INCLUDE_PATH,
#      the compiler's folders; for a cross build, the target's sysroot);
#   3. Debian's /usr/include, for a cross build whose sysroot lacks the package. /usr/include is
#      not put on the compiler's path there (the MinGW C library's own headers must win): the
#      package's folder is linked into the build tree and that private folder is used instead.
function(corvane_header_only_dependency target probe folder)
  cmake_parse_arguments(PARSE_ARGV 3 arg "" "" "PACKAGE")
  if(arg_PACKAGE)
    list(GET arg_PACKAGE 0 package)
    find_package(${package} CONFIG QUIET)
    list(LENGTH arg_PACKAGE count)
    if(count GREATER 1)
      list(GET arg_PACKAGE 1 imported)
      if(TARGET ${imported} AND imported STREQUAL target)
        return()  # the package's own target has the name the project uses
      elseif(TARGET ${imported})
        add_library(${target} INTERFACE)
        target_link_libraries(${target} INTERFACE ${imported})
        return()
      endif()
    endif()
  endif()
  add_library(${target} INTERFACE)
  if(arg_PACKAGE)
    string(TOUPPER ${package} upper)
    foreach(variable ${package}_INCLUDE_DIRS ${upper}_INCLUDE_DIRS)
      if(${variable} AND EXISTS "${${variable}}/${probe}")
        target_include_directories(${target} SYSTEM INTERFACE "${${variable}}")
        return()
      endif()
    endforeach()
  endif()
  find_path(${target}_INCLUDE ${probe})
  if(${target}_INCLUDE)
    target_include_directories(${target} SYSTEM INTERFACE ${${target}_INCLUDE})
    return()
  endif()
  find_path(${target}_SYSTEM_INCLUDE ${probe} PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
            NO_DEFAULT_PATH)
  if(NOT ${target}_SYSTEM_INCLUDE)
    message(FATAL_ERROR "${probe} not found: install ${target} (Debian: its -dev package; vcpkg "
                        "or Conan: set CMAKE_PREFIX_PATH or the toolchain file)")
  endif()
  set(linkdir ${PROJECT_BINARY_DIR}/thirdparty/include)
  file(MAKE_DIRECTORY ${linkdir})
  if(NOT EXISTS ${linkdir}/${folder})
    file(CREATE_LINK ${${target}_SYSTEM_INCLUDE}/${folder} ${linkdir}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} SYSTEM INTERFACE $<BUILD_INTERFACE:${linkdir}>)
endfunction()
