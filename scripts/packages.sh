# Debian packages each job needs; sourced by the scripts.
GM_BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev libbenchmark-dev libpng-dev libjpeg62-turbo-dev libtiff-dev pkg-config)
GM_TEST_PACKAGES=("${GM_BUILD_PACKAGES[@]}" clang libclang-rt-14-dev valgrind)
