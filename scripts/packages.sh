# Debian packages each job needs; sourced by the scripts.
# scdoc writes the manual page; man (man-db) checks that it renders cleanly.
GM_BUILD_PACKAGES=(cmake ninja-build g++ python3 libgtest-dev libbenchmark-dev libpng-dev libjpeg62-turbo-dev libtiff-dev zlib1g-dev pkg-config scdoc)
GM_TEST_PACKAGES=("${GM_BUILD_PACKAGES[@]}" clang libclang-rt-14-dev valgrind man-db)
# The CPU emulator that runs the Win32 module (label win32).
GM_TEST_PACKAGES+=(libunicorn-dev)
# The Windows modules: mingw-w64 cross compilers, GoogleTest sources to build
# for them, and wine (with xvfb for tests that open windows) to run Win64.
GM_WINDOWS_PACKAGES=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest wine wine64 xvfb xauth)
GM_TEST_PACKAGES+=("${GM_WINDOWS_PACKAGES[@]}")
# The GIMP plug-in: GIMP's plug-in library to build it, GIMP to test it in
# (batch mode, and with a display under xvfb, keys pressed through XTEST).
GM_GIMP_PACKAGES=(libgimp2.0-dev gimp libxtst6 xvfb xauth)
GM_TEST_PACKAGES+=("${GM_GIMP_PACKAGES[@]}")
# The wasm preset: emscripten builds the WebAssembly module; Node runs the
# package's tests and npm installs their pinned packages (web/package-lock.json),
# which drive Debian's Chromium for the page's. Where Node comes from elsewhere
# with npm inside, the scripts ask for Debian's npm only when npm is missing.
GM_WEB_PACKAGES=(cmake ninja-build emscripten nodejs chromium)
GM_TEST_PACKAGES+=("${GM_WEB_PACKAGES[@]}")
# scripts/release: GIMP's plug-in library for the plug-in's package;
# dpkg-shlibdeps (dpkg-dev) finds the packages' library dependencies.
GM_RELEASE_PACKAGES=("${GM_BUILD_PACKAGES[@]}" "${GM_WINDOWS_PACKAGES[@]}" libgimp2.0-dev dpkg-dev emscripten nodejs)
# scripts/bench: chafa and jp2a, the text-art tools the tool is timed beside;
# GNU time for peak memory.
GM_BENCH_PACKAGES=("${GM_BUILD_PACKAGES[@]}" chafa jp2a time "${GM_WEB_PACKAGES[@]}")
