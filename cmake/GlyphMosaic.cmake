# Shared settings for every target of the project.

# Our own code is held to warnings-as-errors; third-party code is not.
function(gm_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# Makes a folder's headers (the current one unless named) visible, as "<folder>/Name.h", to the
# target and (with PUBLIC or INTERFACE) to whatever links it, and to nothing
# else: the include path is build/include/<target>, which holds only a link
# named after the folder. Every include line then reads the same everywhere,
# yet including a folder the target does not depend on fails to build.
function(gm_folder_headers target scope)
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})
  if(ARGC GREATER 2)
    set(dir ${ARGV2})
  endif()
  get_filename_component(folder ${dir} NAME)
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${dir} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} ${scope} ${root})
endfunction()

# A library for one subsystem folder: sources relative to that folder.
# DEPENDS are the libraries whose headers its own headers include (passed on
# to its users); PRIVATE_DEPENDS those only its sources include.
function(gm_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;PRIVATE_DEPENDS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  gm_folder_headers(${name} PUBLIC)
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS} PRIVATE ${ARG_PRIVATE_DEPENDS})
  gm_warnings(${name})
endfunction()

# A GoogleTest runner registered with ctest under one subsystem label.
function(gm_test name)
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "SOURCES;DEPENDS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} GTest::gtest GTest::gtest_main)
  gm_folder_headers(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    GM_SAMPLES_DIR="${PROJECT_SOURCE_DIR}/samples"
    GM_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gm_warnings(${name})
  # Under an emulator the processor, and the emulator's own memory, are not the machine's.
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    target_compile_definitions(${name} PRIVATE GM_EMULATED=1)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  gtest_discover_tests(${name}
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT}
    DISCOVERY_TIMEOUT 60)
endfunction()
