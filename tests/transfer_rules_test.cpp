// Tests of the preload that gives the emulated chips' `eeprom` files the
// kernel's transfer rules (one page per call, clamped at the end of the chip,
// a truncation ignored), logs the calls and injects the faults the other
// tests ask for.

#include "harness.h"
#include "headset_fixtures.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const std::string kDevices = "/sys/bus/i2c/devices/";

struct xfer_case {
    const char *what;
    std::vector<std::string> env;
    std::vector<std::string> ops;
    std::vector<std::string> results;
};

TEST(TransferRules, OneCallMovesAtMostAPageAndStopsAtTheChipsEnd) {
    const xfer_case cases[] = {
        {"a page per call", {}, {"r:6656:1536", "r:2560:5632"}, {"4096", "2560"}},
        {"pread64 too", {}, {"R:8192:0", "W:8192:0:0"}, {"4096", "4096"}},
        // 32-bit targets: the 64-bit forms' offsets must not wrap onto the chip.
        {"64-bit offset past 4 GiB", {}, {"R:1:4294967296", "W:1:4294967296:5a"}, {"0", "-1 EFBIG"}},
        {"read clamped at the end", {}, {"r:100:8150"}, {"42"}},
        {"read at and past the end", {}, {"r:10:8192", "r:10:9000"}, {"0", "0"}},
        {"zero-length read", {}, {"r:0:0"}, {"0"}},
        {"write a page per call", {}, {"w:6656:0:5a"}, {"4096"}},
        {"write clamped at the end", {}, {"w:100:8150:5a"}, {"42"}},
        {"write at and past the end", {}, {"w:1:8192:5a", "w:0:9000:5a"}, {"-1 EFBIG", "-1 EFBIG"}},
        {"negative offset", {}, {"r:1:-1", "w:1:-1:0"}, {"-1 EINVAL", "-1 EINVAL"}},
        {"smaller page", {"EMU_EEPROM_PAGE_SIZE=1000"}, {"r:6656:0", "w:1500:7000:0"}, {"1000", "1000"}},
        // Calls at the file position: the same rules, and the position moves.
        {"read a page per call", {}, {"read:6656", "read:6656", "read:10"}, {"4096", "4096", "0"}},
        {"read clamped at the end", {}, {"seek:8150:set", "read:100", "seek:0:cur"},
         {"8150", "42", "8192"}},
        {"write a page per call", {}, {"write:6656:5a", "seek:0:cur"}, {"4096", "4096"}},
        {"write at the end", {}, {"seek:0:end", "write:1:5a", "seek:0:cur"},
         {"8192", "-1 EFBIG", "8192"}},
        {"seek from the end", {}, {"seek:-10:end", "read:100"}, {"8182", "10"}},
        {"readv: a page in all", {}, {"readv:3000+3000", "readv:3000+3000", "readv:1+1"},
         {"4096", "4096", "0"}},
        {"readv clamped at the end", {}, {"seek:8000:set", "readv:100+100"}, {"8000", "192"}},
        {"writev: a page in all", {}, {"writev:3000+3000:1", "seek:0:cur"}, {"4096", "4096"}},
        {"writev at the end", {}, {"seek:8192:set", "writev:1+1:1"}, {"8192", "-1 EFBIG"}},
    };
    for (const xfer_case &c : cases) {
        SCOPED_TRACE(c.what);
        emu_headset hs = emu_standard_headset();
        ASSERT_TRUE(mount_headset(hs));
        // The same bytes, the same rules, under either name.
        for (const std::string &file :
             {emu_chip_path(hs.chips[0]), kDevices + "1-0050/core_v2_eeprom1/nvmem"}) {
            SCOPED_TRACE(file);
            EXPECT_EQ(probe(file, c.ops, c.env), c.results);
            struct stat st;
            ASSERT_EQ(stat(file.c_str(), &st), 0);
            EXPECT_EQ(st.st_size, 8192);  // never grows
        }
    }
}

TEST(TransferRules, VectorsFillInOrderUpToAPage) {
    emu_headset hs = emu_standard_headset();
    ASSERT_TRUE(mount_headset(hs));
    EXPECT_EQ(probe(emu_chip_path(hs.chips[0]), {"writev:3000+3000:10"}),
              std::vector<std::string>{"4096"});
    std::vector<uint8_t> bytes = read_chip(hs.chips[0]);
    ASSERT_EQ(bytes.size(), 8192u);
    for (size_t i : {0, 2999, 3000, 4095, 4096, 8191})
        EXPECT_EQ(bytes[i], i < 3000 ? 0x10 : i < 4096 ? 0x11 : 0xFF) << "byte " << i;
}

TEST(TransferRules, InjectedFaultsHitTheNumberedCallOnly) {
    const xfer_case cases[] = {
        {"second read fails with EIO",
         {"EMU_EEPROM_FAIL_READ=2"},
         {"r:10:0", "r:10:0", "r:10:0"},
         {"10", "-1 EIO", "10"}},
        {"reads and writes are counted apart",
         {"EMU_EEPROM_FAIL_READ=1:EAGAIN"},
         {"w:10:0:0", "r:10:0", "r:10:0"},
         {"10", "-1 EAGAIN", "10"}},
        {"every kind of read counts",
         {"EMU_EEPROM_FAIL_READ=2", "EMU_EEPROM_SHORT_READ=3:7"},
         {"read:10", "r:10:0", "readv:5+5", "seek:0:cur"},
         {"10", "-1 EIO", "7", "17"}},
        {"list, open range and numeric errno",
         {"EMU_EEPROM_FAIL_WRITE=1,3-:4"},
         {"w:1:0:0", "w:1:0:0", "w:1:0:0", "w:1:0:0"},
         {"-1 EINTR", "1", "-1 EINTR", "-1 EINTR"}},
        {"short read",
         {"EMU_EEPROM_SHORT_READ=2:7"},
         {"r:100:0", "r:100:0", "r:100:0"},
         {"100", "7", "100"}},
        {"a cap above a page leaves the page; a cap of zero moves nothing",
         {"EMU_EEPROM_SHORT_WRITE=1:5000,2:0"},
         {"w:6000:0:0", "w:10:0:0"},
         {"4096", "0"}},
        {"a slow chip only takes longer",
         {"EMU_EEPROM_DELAY_US=100:300"},
         {"r:10:0", "w:6000:0:0"},
         {"10", "4096"}},
    };
    for (const xfer_case &c : cases) {
        SCOPED_TRACE(c.what);
        emu_headset hs = emu_standard_headset();
        ASSERT_TRUE(mount_headset(hs));
        EXPECT_EQ(probe(emu_chip_path(hs.chips[0]), c.ops, c.env), c.results);
    }
}

TEST(TransferRules, AShortWriteReallyWritesItsPart) {
    emu_headset hs = emu_standard_headset();
    ASSERT_TRUE(mount_headset(hs));
    EXPECT_EQ(probe(emu_chip_path(hs.chips[1]), {"w:64:100:00", "w:64:164:00"},
                    {"EMU_EEPROM_SHORT_WRITE=1:10", "EMU_EEPROM_FAIL_WRITE=2"}),
              (std::vector<std::string>{"10", "-1 EIO"}));
    std::vector<uint8_t> bytes = read_chip(hs.chips[1]);
    ASSERT_EQ(bytes.size(), 4096u);
    for (size_t i = 95; i < 240; i++)
        EXPECT_EQ(bytes[i], i >= 100 && i < 110 ? 0x00 : 0xFF) << "byte " << i;
}

TEST(TransferRules, AWriteProtectedChipAcknowledgesAndKeepsItsBytes) {
    emu_headset hs = emu_standard_headset();
    ASSERT_TRUE(mount_headset(hs));
    EXPECT_EQ(probe(emu_chip_path(hs.chips[1]), {"w:64:100:00", "w:5000:0:00", "w:1:4096:00"},
                    {"EMU_EEPROM_WRITE_PROTECT=1"}),
              (std::vector<std::string>{"64", "4096", "-1 EFBIG"}));
    EXPECT_EQ(read_chip(hs.chips[1]), std::vector<uint8_t>(4096, 0xFF));
}

TEST(TransferRules, OtherFilesPassThroughUntouchedAndUnlogged) {
    emu_headset hs = emu_standard_headset();
    ASSERT_TRUE(mount_headset(hs));
    char file[] = "/tmp/vellum-plain-XXXXXX";
    int fd = mkstemp(file);
    ASSERT_GE(fd, 0);
    close(fd);
    run_result r;
    EXPECT_EQ(probe(file, {"w:9000:0:1", "r:9000:0", "r:10:9000", "read:9000", "writev:5000+5000:1"},
                    {"EMU_EEPROM_FAIL_READ=1-", "EMU_EEPROM_FAIL_WRITE=1-"}, &r),
              (std::vector<std::string>{"9000", "9000", "0", "9000", "10000"}));
    EXPECT_EQ(r.calls, std::vector<std::string>{});
    unlink(file);
}

using Truncation = ScratchTest;

// Sysfs ignores a size change of a chip's file: a truncating open, truncate
// and ftruncate succeed, and the chip keeps its size and bytes but for what
// is written after, at offset 0. Any other file is cut as usual.
TEST_F(Truncation, LeavesAChipWholeAndStillCutsOtherFiles) {
    struct trunc_case {
        const char *what;
        std::vector<std::string> ops;
        std::vector<std::string> chip, plain;  // the probe's lines on each file
        size_t written;  // bytes of 0x5a the ops write at offset 0
    };
    const std::string same = "0 8192";
    const trunc_case cases[] = {
        {"O_TRUNC opens",
         {"reopen:open", "reopen:openat", "reopen:openat64", "reopen:creat", "reopen:creat64"},
         {same, same, same, same, same},
         {"0 0", "0 0", "0 0", "0 0", "0 0"},
         0},
        {"stdio's \"wb\"",
         {"reopen:fopen", "reopen:fopen64", "reopen:freopen", "reopen:freopen64",
          "reopen:freopen-self"},
         {same, same, same, same, same},
         {"0 0", "0 0", "0 0", "0 0", "0 0"},
         0},
        {"truncate and ftruncate",
         {"truncate:50", "truncate64:100", "trunc:10", "trunc64:0", "trunc:-1"},
         {same, same, same, same, "-1 EINVAL 8192"},
         {"0 50", "0 100", "0 10", "0 0", "-1 EINVAL 0"},
         0},
        {"writing after a truncating open", {"reopen:open64", "write:3:5a"}, {same, "3"},
         {"0 0", "3"}, 3},
    };
    std::vector<uint8_t> pattern(8192);
    for (size_t i = 0; i < pattern.size(); i++)
        pattern[i] = static_cast<uint8_t>(i * 7);
    emu_headset hs = emu_standard_headset();
    ASSERT_TRUE(mount_headset(hs));
    const std::string plain = dir_ + "/plain.bin";
    for (const trunc_case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> kept = pattern;
        std::fill_n(kept.begin(), c.written, 0x5a);
        for (const std::string &file :
             {emu_chip_path(hs.chips[0]), kDevices + "1-0050/core_v2_eeprom1/nvmem"}) {
            SCOPED_TRACE(file);
            write_chip(hs.chips[0], 0, pattern);
            EXPECT_EQ(probe(file, c.ops), c.chip);
            EXPECT_EQ(difference(read_chip(hs.chips[0]), kept), "");
        }
        write_file(plain, pattern);
        EXPECT_EQ(probe(plain, c.ops), c.plain);
        EXPECT_EQ(read_file(plain), std::vector<uint8_t>(c.written, 0x5a));
    }
}

TEST(TransferRules, LogRecordsEveryTransferAndDirectoryOpen) {
    emu_headset hs = emu_standard_headset();
    ASSERT_TRUE(mount_headset(hs));
    run_result r;
    probe(emu_chip_path(hs.chips[1]),
          {"d:/sys/bus/i2c/devices", "r:6656:1536", "w:16:4090:0", "d:/nonexistent", "read:10"},
          {"EMU_EEPROM_FAIL_WRITE=1"}, &r);
    EXPECT_EQ(r.calls, (std::vector<std::string>{
                           "opendir /sys/bus/i2c/devices",
                           "pread 1-0051 6656 1536 -> 2560",
                           "pwrite 1-0051 16 4090 -> -1 EIO",
                           "opendir /nonexistent",
                           "read 1-0051 10 0 -> 10",
                       }));
    EXPECT_EQ(count_calls(r, "opendir"), 2u);
    EXPECT_EQ(count_calls(r, "opendir /sys/bus/i2c/devices"), 1u);
    EXPECT_EQ(count_calls(r, "pread 1-0050"), 0u);
    std::vector<xfer_call> calls = transfers(r);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].op, "pwrite");
    EXPECT_EQ(calls[1].device, "1-0051");
    EXPECT_EQ(calls[1].count, 16u);
    EXPECT_EQ(calls[1].offset, 4090);
    EXPECT_EQ(calls[1].result, -1);
    EXPECT_EQ(calls[1].error, "EIO");
}

TEST(TransferRules, MalformedSettingsStopTheProgram) {
    emu_headset hs = emu_standard_headset();
    ASSERT_TRUE(mount_headset(hs));
    for (const char *setting : {"EMU_EEPROM_FAIL_READ=x", "EMU_EEPROM_FAIL_WRITE=2:ENOPE",
                                "EMU_EEPROM_SHORT_READ=3", "EMU_EEPROM_PAGE_SIZE=0",
                                "EMU_EEPROM_DELAY_US=1:", "EMU_EEPROM_WRITE_PROTECT=yes"}) {
        SCOPED_TRACE(setting);
        run_result r = run_program(XFER_PROBE, {emu_chip_path(hs.chips[0]), "r:1:0"}, {setting});
        EXPECT_EQ(r.status, 125);
        EXPECT_NE(r.err.find("malformed"), std::string::npos) << r.err;
    }
}


}  // namespace
