# 32-bit ARM Linux from ARMv6 on: every Raspberry Pi (1, Zero and Zero W too), with Debian's g++-arm-linux-gnueabi.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv6)
set(triplet arm-linux-gnueabi)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
