// Test harness: an emulated headset per test, vellum run as a child process
// under the eeprom_xfer preload, and builders for region images.
//
// Every test process runs in its own mount namespace (see test_main.cpp), so
// each test mounts the headset it needs; nothing reaches the host's /sys.
//
//   TEST(Get, SerialSurvivesAShortRead) {
//       emu_headset hs = emu_standard_headset();   // hs.chips[0] is the core
//       ASSERT_TRUE(mount_headset(hs));
//       // The core region (layout 5, 277 bytes) starts at byte 256 of the chip.
//       write_chip(hs.chips[0], 256, region_image(277, 0x45F731EA, 5, 0xFF,
//                  {{.offset = 24, .bytes = text_bytes("SN42", 14)}}));
//       run_result r = run_vellum({"get", "unit_sn"}, {"EMU_EEPROM_SHORT_READ=2:100"});
//       EXPECT_EQ(r.status, 0) << r.err;
//       EXPECT_EQ(r.out, "SN42");
//       EXPECT_EQ(count_calls(r, "pread 1-0050"), 3u);  // header, 100, the rest
//   }
//
// Faults are injected through the preload's EMU_EEPROM_* variables (listed
// at the top of tools/eeprom_xfer.cpp), passed in `env`.
#pragma once

#include "emulated_sysfs.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct run_result {
    int status = -1;         // exit status, -1 when ended by a signal
    int signal = 0;          // signal that ended the process, 0 when it exited
    bool timed_out = false;  // killed (SIGKILL) after running too long
    std::string out;         // standard output, byte for byte
    std::string err;         // standard error, byte for byte
    std::vector<std::string> calls;  // the preload's log, one line per call
};

// One eeprom transfer from the call log:
// "pwrite 1-0050 6656 1536 -> -1 EIO".
struct xfer_call {
    std::string op;         // "pread" or "pwrite"
    std::string device;     // "1-0050"
    size_t count = 0;       // bytes asked for
    long long offset = 0;
    long long result = 0;   // bytes transferred, or -1
    std::string error;      // errno name when result is -1
};

// Mounts a fresh /sys holding the headset; a failure is reported to gtest.
// A headset that leaves kernel_bits at 0 lists its directories as the test
// run asks: VELLUM_TEST_KERNEL_BITS=32 for a 32-bit kernel's order, else a
// 64-bit kernel's. CTest runs every test in the 64-bit order, and the suites
// whose outcome depends on the order in the 32-bit one too (tests/CMakeLists.txt).
bool mount_headset(const emu_headset &headset);
int test_kernel_bits();

// Runs the built vellum with `args`, the preload, the call log and the given
// extra environment entries ("NAME=value"). Standard input is `input`, or
// /dev/null when empty.
run_result run_vellum(const std::vector<std::string> &args,
                      const std::vector<std::string> &env = {},
                      const std::string &input = "");

// Same for any program (an absolute path), e.g. /bin/sh. In cross builds the
// target's programs run under the emulator, which alone sees the preload.
//
// A shell started this way runs vellum as VELLUM_COMMAND, not VELLUM_BINARY:
// in cross builds that is a script which starts vellum under the emulator.
// Tests that need what the emulator cannot give (a setuid bit taking effect,
// the host's own architecture) skip when VELLUM_TESTS_EMULATED is defined.
run_result run_program(const std::string &path, const std::vector<std::string> &args,
                       const std::vector<std::string> &env = {},
                       const std::string &input = "");

// Runs the xfer_probe program (single transfer calls, see xfer_probe.cpp)
// on one file; returns its output lines, one per operation.
std::vector<std::string> probe(const std::string &file, const std::vector<std::string> &ops,
                               const std::vector<std::string> &env = {}, run_result *result = nullptr);

// The call-log lines starting with `prefix` ("pread", "pwrite 1-0051",
// "opendir /sys/bus/i2c/devices").
size_t count_calls(const run_result &r, std::string_view prefix);
// The pread/pwrite lines of the log, parsed.
std::vector<xfer_call> transfers(const run_result &r);

// A chip's bytes; failures are reported to gtest.
std::vector<uint8_t> read_chip(const emu_device &chip);
void write_chip(const emu_device &chip, uint32_t offset, const std::vector<uint8_t> &bytes);

// Every pwrite made by this process on descriptor `fd` from now on is
// appended to `log` (offset, bytes written) before it returns; fd -1 stops.
// The test binary is linked with pwrite wrapped, so this sees the library's
// own writes in the order it makes them.
struct written_run {
    long long offset;
    std::vector<uint8_t> bytes;
};
void record_writes(int fd, std::vector<written_run> *log);

// Region images, built independently of the product's code.
//
// Fletcher-16 with sums modulo 255; the result is sum2 * 256 + sum1.
uint16_t fletcher16(const uint8_t *data, size_t length);

struct image_item {
    uint16_t offset = 0;
    std::vector<uint8_t> bytes = {};
    bool valid = true;  // write the 0xA5 valid marker right after the bytes
};

// A `size`-byte image: magic (LE32), version (LE32), lock byte, the items,
// every other byte `fill` (0xFF, as a reset leaves it), and the checksum of
// all but the last two bytes stored in them (sum1 first).
std::vector<uint8_t> region_image(uint32_t size, uint32_t magic, uint32_t version,
                                  uint8_t lock = 0xFF,
                                  const std::vector<image_item> &items = {},
                                  uint8_t fill = 0xFF);
// Recomputes the checksum after an image was edited.
void reseal(std::vector<uint8_t> &image);

// `text` followed by zero bytes up to `length`.
std::vector<uint8_t> text_bytes(std::string_view text, size_t length);
std::vector<uint8_t> le16(uint16_t value);
std::vector<uint8_t> le32(uint32_t value);
