# Cross build for 32-bit ARM Linux with Debian's arm-linux-gnueabihf toolchain.
# Libraries come from Debian multiarch (the :armhf -dev packages); tests run
# under qemu-arm, which finds the armhf loader and libraries in /lib and /usr/lib.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
find_program(TRM27K_QEMU_ARM qemu-arm REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TRM27K_QEMU_ARM})
