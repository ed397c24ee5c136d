# Cross-builds palfill and libpalfill for armhf Linux (Debian:
# g++-arm-linux-gnueabihf) and runs what it builds under qemu-user (Debian:
# qemu-user-static):
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
#   cmake --build build-armhf -j2
#   PALFILL_TEST_LAUNCHER=/usr/bin/qemu-arm-static ctest --test-dir build-armhf
set(CMAKE_SYSTEM_PROCESSOR arm)
set(PALFILL_CROSS_TRIPLET arm-linux-gnueabihf)
set(PALFILL_CROSS_QEMU qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross-linux.cmake)
