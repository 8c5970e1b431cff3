# Cross build for 32-bit ARM Linux (armhf) with Debian's crossbuild-essential-armhf; the
# built programs run under qemu-user, which finds the target's libraries in the sysroot.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(triple arm-linux-gnueabihf)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)

# An absolute path, because the end-to-end tests run with a narrowed PATH.
find_program(QEMU_ARM qemu-arm REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_ARM} -L ${sysroot})
