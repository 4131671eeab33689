# Cross build for 32-bit ARM Linux with Debian's arm-linux-gnueabihf compiler
# against a Debian armhf sysroot (scripts/make-sysroot.sh), so the build
# machine's own package set is never changed. Tests run under
# `qemu-arm -L SYSROOT`, which finds the armhf loader and libraries there.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

if(NOT TRM27K_SYSROOT)
  if(DEFINED ENV{TRM27K_SYSROOT})
    set(TRM27K_SYSROOT "$ENV{TRM27K_SYSROOT}")
  else()
    get_filename_component(TRM27K_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build/sysroot-armhf" ABSOLUTE)
  endif()
endif()
if(NOT EXISTS "${TRM27K_SYSROOT}/usr/include/stdio.h")
  message(FATAL_ERROR "No armhf sysroot at ${TRM27K_SYSROOT}: run scripts/make-sysroot.sh (make deps-armhf does)")
endif()
set(TRM27K_SYSROOT "${TRM27K_SYSROOT}" CACHE PATH "Debian armhf sysroot of the cross build")
set(CMAKE_SYSROOT "${TRM27K_SYSROOT}")

# Libraries, headers and package configs only from the sysroot; programs
# (the code generators and tools the build runs) from the build machine.
set(CMAKE_FIND_ROOT_PATH "${TRM27K_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${TRM27K_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR}
    "${TRM27K_SYSROOT}/usr/lib/arm-linux-gnueabihf/pkgconfig:${TRM27K_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

find_program(TRM27K_QEMU_ARM qemu-arm REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${TRM27K_QEMU_ARM};-L;${TRM27K_SYSROOT}")
