# Tests that run Windows executables under wine (win64 preset only).
#
#   gm_wine_test(name LABEL label SOURCES ... [DEPENDS libs...] [MODULES targets...])
#
# builds a GoogleTest executable with mingw and registers it with ctest as ONE
# test that runs the whole executable under wine64 (wine starts slowly, so
# group cases into few executables rather than registering each case).
# MODULES are .8bf targets the test loads; their paths reach the test as
# GM_MODULE_<TARGET> compile definitions (Unix paths: tests/wine/WinePath.h
# turns them into the Z: paths wine gives the Unix file system).
# Every wine test shares the prefix build/win64/wineprefix, created once by
# the wine_prefix fixture; WINEDEBUG=-all keeps wine's own chatter out.
# A test that shows windows must run under xvfb-run (ctest -L ui, say).
# Run them with `ctest --preset win64`.

find_program(GM_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(GM_WINE64 NAMES wine64 wine REQUIRED)
find_program(GM_WINESERVER NAMES wineserver wineserver64 PATHS /usr/lib/wine /usr/bin REQUIRED)
set(GM_WINEPREFIX ${PROJECT_BINARY_DIR}/wineprefix)

# GoogleTest from Debian's sources, cross-compiled with the project's compiler.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Mono and Gecko would be offered (and fetched) on a new prefix; no test needs them.
add_test(NAME wine_prefix
  COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${GM_WINEPREFIX} WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml= GM_WINE64=${GM_WINE64} GM_WINESERVER=${GM_WINESERVER}
    sh ${PROJECT_SOURCE_DIR}/tests/wine/init-prefix.sh)
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wineprefix LABELS wine TIMEOUT 300)

function(gm_wine_test name)
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "SOURCES;DEPENDS;MODULES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} gtest gtest_main)
  target_link_options(${name} PRIVATE -static)
  gm_folder_headers(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  gm_warnings(${name})
  foreach(module IN LISTS ARG_MODULES)
    add_dependencies(${name} ${module})
    string(TOUPPER ${module} upper)
    target_compile_definitions(${name} PRIVATE
      "GM_MODULE_${upper}=\"$<TARGET_FILE:${module}>\"")
  endforeach()
  target_compile_definitions(${name} PRIVATE "GM_SAMPLES_DIR=\"${PROJECT_SOURCE_DIR}/samples\"")
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${GM_WINE64} $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES
    LABELS "${ARG_LABEL};wine" TIMEOUT ${ARG_TIMEOUT} FIXTURES_REQUIRED wineprefix
    ENVIRONMENT "WINEPREFIX=${GM_WINEPREFIX};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=")
endfunction()
