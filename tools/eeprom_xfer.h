// What the two parts of the preloaded module share: eeprom_xfer.cpp (the
// transfer rules and injected faults) and eeprom_open.cpp (opens and
// truncation). Include it before any other header.
#pragma once

// The hooks are declared with the C library's own types: pread and pwrite
// take the native off_t, pread64 and pwrite64 a 64-bit offset (likewise
// truncate and truncate64, ftruncate and ftruncate64). On 32-bit targets the
// two differ, and a program built with 64-bit file offsets calls the 64-bit
// forms under the plain names' declarations; so the module is compiled with
// the native off_t whatever the build asks for.
#undef _FILE_OFFSET_BITS
#undef _TIME_BITS

#include <dlfcn.h>
#include <limits.h>
#include <sys/types.h>

#include <cstddef>

#define HOOK __attribute__((visibility("default")))

namespace eeprom_xfer __attribute__((visibility("hidden"))) {

template <typename F>
F next(const char *name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// Appends one line to the call log (EMU_EEPROM_LOG), if there is one.
void log_line(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// The resolved path of what fd refers to.
bool fd_path(int fd, char *out, size_t size);

// A chip's file as this module sees it.
struct chip {
    char device[NAME_MAX + 1];  // device directory, "1-0050"
    off64_t size;
};

// Whether fd is a chip's `eeprom` file, or its `nvmem` file one directory
// further down (in the label directory); fills in which chip.
bool chip_of(int fd, chip *c);

}  // namespace eeprom_xfer
