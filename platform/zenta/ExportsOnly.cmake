# corvane_c_exports_only(<target> <stem>): the shared library exports the C names listed in
# <stem>.map (a linker version script, ELF) or <stem>.def (Windows) and nothing else, so no
# C++ symbol of ours, of a template or of a statically linked runtime leaves it.
function(corvane_c_exports_only target stem)
  get_target_property(type ${target} TYPE)
  if(NOT type STREQUAL "SHARED_LIBRARY")
    return()  # a static library keeps every symbol for the program that links it
  endif()
  if(WIN32)
    target_sources(${target} PRIVATE ${stem}.def)
  elseif(NOT APPLE)
    target_link_options(${target} PRIVATE "LINKER:--version-script=${stem}.map")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${stem}.map)
  endif()
endfunction()
