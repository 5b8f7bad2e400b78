# Cross-build for arm64 with Debian's aarch64-linux-gnu compiler and the arm64
# libraries of a multiarch system (libxml2-dev:arm64, libgtest-dev:arm64);
# scripts/portable uses it in the Debian 11 root. Tests run under qemu when found.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# pkg-config must see the arm64 .pc files only, or it hands out the host's flags.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
find_program(HBAFW_QEMU_AARCH64 qemu-aarch64-static)
if(HBAFW_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${HBAFW_QEMU_AARCH64})
endif()
