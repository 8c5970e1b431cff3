# Cross build for 64-bit ARM Linux (arm64) with Debian's crossbuild-essential-arm64, as
# tools/release makes it: static programs, no tests, so no emulator is named here.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(triple aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)
