# Cross build for 64-bit ARM (the headset's arm64 images) with Debian's
# cross compiler; tests run under qemu-user. Used by the arm64 preset.
set(VELLUM_TARGET_TRIPLET aarch64-linux-gnu)
set(VELLUM_DEB_ARCH arm64)
set(VELLUM_QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
