# The Windows plug-in module: one .8bf file linking the module's subsystem
# libraries whole. Whole archives because nothing references DllMain, the
# replaced allocation operators or the resources by symbol, and each must win
# over the CRT's and the static C++ runtime's defaults rather than be dropped.
# The runtime (libstdc++, libgcc, winpthread) is linked statically, so the
# module imports nothing but Windows system DLLs. Exports come only from the
# .def file: ld exports nothing else once one is given.
function(gm_module name)
  cmake_parse_arguments(ARG "" "DEF;OUTPUT_DIRECTORY" "SOURCES;LIBRARIES" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES} ${ARG_DEF})
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX ".8bf" LINKER_LANGUAGE CXX
    RUNTIME_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIRECTORY}
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  # Named once inside --whole-archive, by file: linking the targets instead
  # would repeat each archive through the others' transitive dependencies,
  # and a repeated whole archive defines everything twice.
  set(files)
  foreach(lib IN LISTS ARG_LIBRARIES)
    list(APPEND files $<TARGET_FILE:${lib}>)
  endforeach()
  add_dependencies(${name} ${ARG_LIBRARIES})
  set_property(TARGET ${name} PROPERTY LINK_DEPENDS ${files})
  target_link_libraries(${name} PRIVATE -Wl,--whole-archive ${files} -Wl,--no-whole-archive)
  # Test builds add sources of their own; they see the headers of the
  # libraries named (and of the host interface under them), no others.
  foreach(lib IN LISTS ARG_LIBRARIES ITEMS gm_abi)
    target_include_directories(${name} PRIVATE $<TARGET_PROPERTY:${lib},INTERFACE_INCLUDE_DIRECTORIES>)
  endforeach()
  # No link time stamp, so that two builds of the same sources give the same file.
  target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--no-undefined
    -Wl,--no-insert-timestamp $<$<CONFIG:Release>:-s>)
  if(ARG_SOURCES)
    gm_warnings(${name})
  endif()
endfunction()
