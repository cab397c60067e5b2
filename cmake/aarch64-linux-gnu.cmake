# Cross build for 64-bit ARM Linux with Debian's cross compiler; tests run
# under qemu-user with the cross sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(VANTOR_CROSS_SYSROOT /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${VANTOR_CROSS_SYSROOT} /usr/lib/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Only the cross prefixes given in CMAKE_PREFIX_PATH may answer pkg-config,
# never the build machine's own x86-64 FFmpeg.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# The cross sysroot's loader must be paired with the sysroot's own libc:
# with arm64 multiarch packages installed (libturbojpeg for the tests), the
# loader would otherwise pick up the multiarch libc of another release,
# and threaded programs hang at exit.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64;-L;${VANTOR_CROSS_SYSROOT};-E;
    LD_LIBRARY_PATH=${VANTOR_CROSS_SYSROOT}/lib:/usr/lib/aarch64-linux-gnu)
