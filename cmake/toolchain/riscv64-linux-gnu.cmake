# 64-bit RISC-V Linux (VisionFive 2, Milk-V, the Pi-sized boards), with Debian's g++-riscv64-linux-gnu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(triplet riscv64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
