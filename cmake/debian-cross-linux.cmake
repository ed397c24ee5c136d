# What the arm64 and armhf toolchain files share: Debian's cross compilers
# for PALFILL_CROSS_TRIPLET, and PALFILL_CROSS_QEMU (qemu-user) to run what
# they build.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${PALFILL_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${PALFILL_CROSS_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${PALFILL_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# GNUInstallDirs picks Debian's multiarch folder only for native builds.
set(CMAKE_INSTALL_LIBDIR lib/${PALFILL_CROSS_TRIPLET} CACHE PATH
    "Libraries, in Debian's multiarch folder")
# Test discovery and ctest run the test programs through it; the -L
# sysroot gives them the target's C and C++ runtimes.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/${PALFILL_CROSS_QEMU} -L /usr/${PALFILL_CROSS_TRIPLET})
