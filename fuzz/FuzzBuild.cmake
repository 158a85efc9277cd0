# GM_FUZZ=ON makes this tree a libFuzzer build: every library is compiled
# with coverage feedback and both sanitizers, and fuzz/ adds one fuzzer
# binary per target. Only clang has libFuzzer; the g++ presets leave it off.
option(GM_FUZZ "Build the libFuzzer targets of fuzz/ (clang only)" OFF)
if(GM_FUZZ)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=address,undefined)
  else()
    message(WARNING "GM_FUZZ needs clang (CC=clang CXX=clang++): the fuzzers are left out of this build")
    set(GM_FUZZ OFF)
  endif()
endif()
