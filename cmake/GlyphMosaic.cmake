# Shared settings for every target of the project.

# Our own code is held to warnings-as-errors; third-party code is not.
function(gm_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# A library for one subsystem folder: sources relative to that folder,
# includes rooted at the project so that "entry/HostTypes.h" reads the same everywhere.
function(gm_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
  gm_warnings(${name})
endfunction()

# A GoogleTest runner registered with ctest under one subsystem label.
function(gm_test name)
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "SOURCES;DEPENDS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    GM_SAMPLES_DIR="${PROJECT_SOURCE_DIR}/samples"
    GM_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gm_warnings(${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  gtest_discover_tests(${name}
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT}
    DISCOVERY_TIMEOUT 60)
endfunction()
