# Cross-compiles the tool and its tests for 64-bit ARM Linux with Debian's
# aarch64-linux-gnu compilers, against the arm64 libraries that multiarch
# installs beside the native ones (/usr/lib/aarch64-linux-gnu). Tests and
# build steps that run a built program go through qemu's user-mode emulator.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(GM_CROSS_TRIPLE aarch64-linux-gnu)

find_program(CMAKE_C_COMPILER NAMES ${GM_CROSS_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${GM_CROSS_TRIPLE}-g++ REQUIRED)
# Multiarch keeps the arm64 libraries under /usr, so the search stays there,
# in the triple's library folders, rather than under a separate root.
set(CMAKE_LIBRARY_ARCHITECTURE ${GM_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
find_program(PKG_CONFIG_EXECUTABLE NAMES ${GM_CROSS_TRIPLE}-pkg-config REQUIRED)

# The arm64 C library comes with those libraries (libc6:arm64), so qemu needs
# no separate root: the loader is where the program asks for it.
find_program(GM_QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${GM_QEMU_AARCH64})
