# Cross build for 32-bit ARM with hardware floating point (armhf images)
# with Debian's cross compiler; tests run under qemu-user. Used by the armhf
# preset.
set(VELLUM_TARGET_TRIPLET arm-linux-gnueabihf)
set(VELLUM_DEB_ARCH armhf)
set(VELLUM_QEMU qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
