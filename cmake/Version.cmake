# The one version of the project (project(VERSION) in CMakeLists.txt) and the places that state it
# again for their own readers: the headers' CORVANE_VERSION_* (what corvane_version() returns)
# and the Python package's __version__. The configure fails when one of them differs. On Windows every DLL gets a version resource (VERSIONINFO, compiled by windres),
# so that Explorer, installers and crash reports name the version a caller loaded.

file(STRINGS ${PROJECT_SOURCE_DIR}/src/Logical/Corvane/public/CorvaneExport.h corvane_version_lines
     REGEX "^#define CORVANE_VERSION_(MAJOR|MINOR|PATCH) ")
string(REGEX REPLACE "[^;]*_(MAJOR|MINOR|PATCH) ([0-9]+)" "\\2" corvane_header_version
       "${corvane_version_lines}")
string(REPLACE ";" "." corvane_header_version "${corvane_header_version}")
file(STRINGS ${PROJECT_SOURCE_DIR}/bindings/python/corvane/__init__.py corvane_python_version
     REGEX "^__version__ = ")
string(REGEX REPLACE "^__version__ = \"(.*)\"$" "\\1" corvane_python_version
       "${corvane_python_version}")
foreach(stated corvane_header_version corvane_python_version)
  if(NOT ${stated} STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "${stated} is '${${stated}}', the project's version ${PROJECT_VERSION}")
  endif()
endforeach()

# Adds a version resource to a DLL target: corvane_version_resource(<target> <description>).
function(corvane_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(output_name ${target} OUTPUT_NAME)
  if(NOT output_name)
    set(output_name ${target})
  endif()
  get_target_property(prefix ${target} PREFIX)
  if(NOT prefix)
    set(prefix "")
  endif()
  set(CORVANE_RC_FILE_NAME "${prefix}${output_name}.dll")
  set(CORVANE_RC_DESCRIPTION "${description}")
  set(resource ${PROJECT_BINARY_DIR}/version/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${resource} @ONLY)
  target_sources(${target} PRIVATE ${resource})
endfunction()

if(WIN32)
  enable_language(RC)
endif()
