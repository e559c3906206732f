# What a Windows build adds to the project: the MinGW runtime linked into every DLL and EXE, and
# GoogleTest built from Debian's sources for a cross build.

if(MINGW)
  # Every DLL and EXE carries its own copy of the GCC runtime (libgcc, libstdc++, winpthreads),
  # so nothing needs libstdc++-6.dll, libgcc_s_seh-1.dll or libwinpthread-1.dll next to it. The
  # copies agree on every type's layout, and all of them allocate from the one C runtime
  # (msvcrt.dll), so standard types and exceptions still cross the DLL boundaries.
  add_link_options(-static-libgcc -static-libstdc++ -static)
endif()

# GoogleTest for the cross build: Debian's libgtest-dev holds the host's libraries and, in
# /usr/src/googletest, the sources, which are built here with the MinGW compiler. Defines the
# GTest::gtest and GTest::gtest_main targets that find_package(GTest) gives a native build.
function(corvane_googletest_from_source)
  set(source /usr/src/googletest)
  if(NOT EXISTS ${source}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${source}: install libgtest-dev")
  endif()
  set(BUILD_GMOCK OFF)
  set(INSTALL_GTEST OFF)
  # Windows threads rather than winpthreads inside GoogleTest.
  set(gtest_disable_pthreads ON)
  # Static, whatever the project's BUILD_SHARED_LIBS: a GoogleTest DLL would bring a second copy
  # of the runtime's threads and unwinder into every test program.
  set(BUILD_SHARED_LIBS OFF)
  add_subdirectory(${source} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(target gtest gtest_main)
    # Included like a system library: the project's warning flags are not GoogleTest's business.
    get_target_property(includes ${target} INTERFACE_INCLUDE_DIRECTORIES)
    set_target_properties(${target} PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${includes}")
    if(NOT TARGET GTest::${target})  # GoogleTest 1.12 defines these names itself
      add_library(GTest::${target} ALIAS ${target})
    endif()
  endforeach()
endfunction()

# MSVC-style import libraries of the DLLs' C functions, for callers built with MSVC (or any
# toolchain that links .lib files): Corvane.lib from the C interface's .def
# (src/Logical/Corvane/CorvaneC.def; the C++ names are MinGW's and of no use there), and
# ZENTA.lib and Ostrel.lib from the unmangled names their DLLs export. Made with llvm-dlltool next
# to the MinGW import libraries (lib*.dll.a) and installed beside them.
if(MINGW)
  find_program(CORVANE_DLLTOOL NAMES llvm-dlltool REQUIRED)
  set(import_dir ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY})
  set(corvane_def ${PROJECT_SOURCE_DIR}/src/Logical/Corvane/CorvaneC.def)
  add_custom_command(OUTPUT ${import_dir}/Corvane.lib
    COMMAND ${CORVANE_DLLTOOL} -m i386:x86-64 -d ${corvane_def} -l ${import_dir}/Corvane.lib
    DEPENDS Corvane ${corvane_def} VERBATIM)
  set(import_libraries ${import_dir}/Corvane.lib)
  foreach(dll ZENTA Ostrel)
    set(def ${import_dir}/${dll}.def)
    add_custom_command(OUTPUT ${import_dir}/${dll}.lib ${def}
      COMMAND bash -c "{ echo 'LIBRARY ${dll}.dll'; echo EXPORTS; \"$0\" -p \"$1\" | sed -n '/Ordinal\\/Name Pointer/,/^$/s/^\\s*\\[ *[0-9]*\\] //p' | grep -v '^_Z'; } > \"$2\""
              ${CMAKE_OBJDUMP} $<TARGET_FILE:${dll}> ${def}
      COMMAND ${CORVANE_DLLTOOL} -m i386:x86-64 -d ${def} -l ${import_dir}/${dll}.lib
      DEPENDS ${dll} VERBATIM)
    list(APPEND import_libraries ${import_dir}/${dll}.lib)
  endforeach()
  add_custom_target(corvane_msvc_import_libraries ALL DEPENDS ${import_libraries})
  install(FILES ${import_libraries} ${corvane_def} DESTINATION lib)
endif()
