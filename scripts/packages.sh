# Debian packages each job needs; sourced by the scripts.
# scdoc writes the manual page; man (man-db) checks that it renders cleanly.
GM_BUILD_PACKAGES=(cmake ninja-build g++ python3 libgtest-dev libbenchmark-dev libpng-dev libjpeg62-turbo-dev libtiff-dev zlib1g-dev pkg-config scdoc)
# The image formats read through their own libraries (and WebP written), one
# -dev package a line, so that a cross build can take each for its own machine.
GM_FORMAT_PACKAGES=(
  libwebp-dev
  libgif-dev
  libheif-dev
  libjxl-dev
)
GM_BUILD_PACKAGES+=("${GM_FORMAT_PACKAGES[@]}")
# The tests make files of those formats with the formats' own encoders and
# decode them with their own decoders: cwebp, dwebp and img2webp; ImageMagick
# for GIF; heif-enc; avifenc, for 10- and 12-bit AVIF (Debian's heif-enc
# aborts on 10-bit 4:2:0 and 4:4:4); cjxl and djxl. strace shows the tests
# that a new file is synced before its rename.
GM_FORMAT_TOOLS=(webp imagemagick libheif-examples libavif-bin libjxl-tools)
GM_TEST_PACKAGES=("${GM_BUILD_PACKAGES[@]}" "${GM_FORMAT_TOOLS[@]}" clang libclang-rt-14-dev valgrind man-db strace)
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
# The arm64 preset: the cross compiler, qemu (with its binfmt handlers, so
# that tests can start the tool) and, through multiarch, the arm64 builds of
# the libraries. A library the tool gains goes into GM_ARM64_LIBRARIES too.
GM_ARM64_LIBRARIES=(libpng-dev libjpeg62-turbo-dev libtiff-dev zlib1g-dev libgtest-dev libbenchmark-dev pkgconf "${GM_FORMAT_PACKAGES[@]}")
GM_ARM64_PACKAGES=(g++-aarch64-linux-gnu qemu-user qemu-user-binfmt file "${GM_ARM64_LIBRARIES[@]/%/:arm64}")
GM_TEST_PACKAGES+=("${GM_ARM64_PACKAGES[@]}")
# The wasm preset: emscripten builds the WebAssembly module; Node runs the
# package's tests and npm installs their pinned packages (web/package-lock.json),
# which drive Debian's Chromium for the page's. Where Node comes from elsewhere
# with npm inside, the scripts ask for Debian's npm only when npm is missing.
GM_WEB_PACKAGES=(cmake ninja-build emscripten nodejs chromium)
GM_TEST_PACKAGES+=("${GM_WEB_PACKAGES[@]}")
# scripts/release: GIMP's plug-in library for the plug-in's package;
# dpkg-shlibdeps (dpkg-dev) finds the packages' library dependencies.
GM_RELEASE_PACKAGES=("${GM_BUILD_PACKAGES[@]}" "${GM_WINDOWS_PACKAGES[@]}" libgimp2.0-dev dpkg-dev "${GM_ARM64_PACKAGES[@]}" emscripten nodejs)
# scripts/bench: chafa and jp2a, the text-art tools the tool is timed beside;
# libvips's vips, whose decode of an AVIF the tool's is held to; the
# encoders that make the WebP and AVIF photos; GNU time for peak memory; the
# arm64 preset and valgrind to count the variants' instructions on both
# processors; the web's.
GM_BENCH_PACKAGES=("${GM_BUILD_PACKAGES[@]}" chafa jp2a libvips-tools webp libavif-bin time valgrind "${GM_ARM64_PACKAGES[@]}" "${GM_WEB_PACKAGES[@]}")
