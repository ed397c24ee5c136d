# Cross-builds palfill and libpalfill for arm64 Linux (Debian:
# g++-aarch64-linux-gnu) and runs what it builds under qemu-user (Debian:
# qemu-user-static):
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#   cmake --build build-arm64 -j2
#   PALFILL_TEST_LAUNCHER=/usr/bin/qemu-aarch64-static ctest --test-dir build-arm64
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(PALFILL_CROSS_TRIPLET aarch64-linux-gnu)
set(PALFILL_CROSS_QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross-linux.cmake)
