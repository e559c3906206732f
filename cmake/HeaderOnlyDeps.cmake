# Header-only dependencies (rapidjson, CLI11) come from Debian's packages under /usr/include.
# Instead of putting /usr/include on the compiler's path (which breaks a MinGW cross build, whose
# own C library headers must win), the package's folder is linked into the build tree and that
# private folder becomes the include path of an INTERFACE target.
#
#   corvane_header_only_dependency(<target> <probe header> <folder under /usr/include>)
function(corvane_header_only_dependency target probe folder)
  find_path(${target}_SYSTEM_INCLUDE ${probe} PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
            NO_DEFAULT_PATH)
  if(NOT ${target}_SYSTEM_INCLUDE)
    message(FATAL_ERROR "${probe} not found: install the Debian package that provides it")
  endif()
  set(linkdir ${PROJECT_BINARY_DIR}/thirdparty/include)
  file(MAKE_DIRECTORY ${linkdir})
  if(NOT EXISTS ${linkdir}/${folder})
    file(CREATE_LINK ${${target}_SYSTEM_INCLUDE}/${folder} ${linkdir}/${folder} SYMBOLIC)
  endif()
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE $<BUILD_INTERFACE:${linkdir}>)
endfunction()
