// Tests of the emulated headset itself: if the tree or the transfer rules
// drift from what the kernel shows, every other test loses its meaning.
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

std::vector<std::string> listing(const std::string &dir) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

// Runs the probe on one file; returns its output lines.
std::vector<std::string> probe(const std::string &file, const std::vector<std::string> &ops,
                               const std::vector<std::string> &env = {},
                               run_result *result = nullptr) {
    std::vector<std::string> args = {file};
    args.insert(args.end(), ops.begin(), ops.end());
    run_result r = run_program(XFER_PROBE, args, env);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = r.out.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(r.out.substr(start, nl - start));
    if (result)
        *result = r;
    return lines;
}

TEST(EmulatedTree, EntriesLookLikeTheKernelsAndDistractorsMisbehaveAsIntended) {
    emu_headset hs = emu_standard_headset();
    hs.distractors.push_back({.kind = emu_kind::plain_dir,
                              .bus = 3,
                              .label = "core_v2_eeprom",
                              .label_number = 0});
    hs.distractors.push_back({.kind = emu_kind::dangling, .bus = 2, .address = 0x51});
    hs.distractors.push_back({.kind = emu_kind::no_eeprom_file,
                              .bus = 0,
                              .address = 0x51,
                              .label = "strap_eeprom",
                              .label_number = 0});
    ASSERT_TRUE(mount_headset(hs));

    struct expectation {
        std::string name;
        bool is_link;      // symlink, resolving to a directory
        bool resolves;
        std::string child; // label directory inside, or "" for none
        long eeprom_size;  // -1: no eeprom file
    };
    const expectation cases[] = {
        // Numbered in probe order: the strap first.
        {"1-0050", true, true, "core_v2_eeprom1", 8192},
        {"1-0051", true, true, "strap_v2_eeprom0", 4096},
        {"1-0040", true, true, "", -1},
        {"0-000a", true, true, "", -1},
        {"i2c-0", true, true, "", -1},
        {"i2c-1", true, true, "", -1},
        {"i2c-2", true, true, "", -1},
        {"3-0050", false, true, "core_v2_eeprom0", 8192},
        {"2-0051", true, false, "", -1},
        {"0-0051", true, true, "strap_eeprom0", -1},
    };
    for (const expectation &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = kDevices + c.name;
        struct stat st;
        ASSERT_EQ(lstat(path.c_str(), &st), 0);
        EXPECT_EQ(S_ISLNK(st.st_mode), c.is_link);
        if (c.is_link) {
            char target[512] = {};
            ASSERT_GT(readlink(path.c_str(), target, sizeof target - 1), 0);
            EXPECT_EQ(std::string(target).rfind("../../../devices/platform/", 0), 0u) << target;
        }
        EXPECT_EQ(stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode), c.resolves);
        if (!c.child.empty()) {
            EXPECT_TRUE(stat((path + "/" + c.child).c_str(), &st) == 0 && S_ISDIR(st.st_mode));
        }
        for (const std::string &file : {std::string("/eeprom"), "/" + c.child + "/nvmem"}) {
            if (c.eeprom_size < 0) {
                EXPECT_NE(stat((path + file).c_str(), &st), 0) << file;
            } else {
                ASSERT_EQ(stat((path + file).c_str(), &st), 0) << file;
                EXPECT_TRUE(S_ISREG(st.st_mode));
                EXPECT_EQ(st.st_mode & 07777, 0600u);
                EXPECT_EQ(st.st_size, c.eeprom_size);
            }
        }
    }
    // The bound chips carry their driver; the unbound device does not.
    struct stat st;
    EXPECT_EQ(stat((kDevices + "1-0050/driver").c_str(), &st), 0);
    EXPECT_NE(lstat((kDevices + "1-0040/driver").c_str(), &st), 0);
    EXPECT_EQ(read_chip(hs.chips[0]), std::vector<uint8_t>(8192, 0xFF));
}

// Directory listings as the i.MX6 board's 32-bit kernel gave them, with the
// chips labelled and numbered as on that board.
struct listing_case {
    const char *dir;
    int kernel_bits;
    std::vector<std::string> names;
};

TEST(EmulatedTree, ListsDirectoriesInTheKernelsOrder) {
    const listing_case cases[] = {
        {"", 32, {"i2c-1", "1-0050", "1-0040", "i2c-2", "i2c-0", "1-0051", "0-000a"}},
        {"1-0050", 32,
         {"supplier:regulator:regulator.0", "subsystem", "driver", "power", "eeprom", "modalias",
          "uevent", "core_v2_eeprom1", "name", "of_node"}},
        {"1-0051", 32,
         {"supplier:regulator:regulator.0", "subsystem", "driver", "power", "eeprom", "modalias",
          "strap_v2_eeprom0", "uevent", "name", "of_node"}},
        {"1-0050/core_v2_eeprom1", 32, {"subsystem", "power", "type", "nvmem", "uevent", "of_node"}},
        // A 64-bit kernel puts 0x51 first.
        {"", 64, {"i2c-1", "1-0051", "i2c-2", "0-000a", "i2c-0", "1-0050", "1-0040"}},
    };
    for (const listing_case &c : cases) {
        for (bool reverse : {false, true}) {
            SCOPED_TRACE(std::string(c.dir) + ", " + std::to_string(c.kernel_bits) + " bits" +
                         (reverse ? ", reversed" : ""));
            emu_headset hs = emu_standard_headset();
            hs.kernel_bits = c.kernel_bits;
            hs.reverse_listing = reverse;
            ASSERT_TRUE(mount_headset(hs));
            std::vector<std::string> want = c.names;
            if (reverse)
                want.assign(c.names.rbegin(), c.names.rend());
            EXPECT_EQ(listing(kDevices + c.dir), want);
        }
    }
}

std::string file_text(const std::string &path) {
    std::string text;
    if (FILE *f = std::fopen(path.c_str(), "re")) {
        char buf[512];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
            text.append(buf, n);
        std::fclose(f);
    }
    return text;
}

TEST(EmulatedTree, AttributesReadAsOnTheBoard) {
    struct attribute_case {
        const char *path;  // under /sys/bus/i2c/devices/
        unsigned mode;
        std::string text;
    };
    const attribute_case cases[] = {
        {"1-0050/uevent", 0644,
         "DRIVER=at24\nOF_NAME=eeprom\nOF_FULLNAME=/soc/bus@2100000/i2c@21a4000/eeprom@50\n"
         "OF_COMPATIBLE_0=atmel,24c64\nOF_COMPATIBLE_N=1\nMODALIAS=of:NeepromT(null)Catmel,24c64\n"},
        {"1-0051/strap_v2_eeprom0/uevent", 0644,
         "OF_NAME=eeprom\nOF_FULLNAME=/soc/bus@2100000/i2c@21a4000/eeprom@51\n"
         "OF_COMPATIBLE_0=atmel,24c32\nOF_COMPATIBLE_N=1\n"},
        {"1-0050/name", 0444, "24c64\n"},
        {"1-0051/modalias", 0444, "of:NeepromT(null)Catmel,24c32\n"},
        {"1-0050/core_v2_eeprom1/type", 0444, "EEPROM\n"},
        {"1-0050/power/runtime_status", 0444, "suspended\n"},
        {"1-0050/core_v2_eeprom1/power/runtime_status", 0444, "unsupported\n"},
        {"i2c-1/name", 0444, "21a4000.i2c\n"},
    };
    emu_headset hs = emu_standard_headset();
    ASSERT_TRUE(mount_headset(hs));
    for (const attribute_case &c : cases) {
        SCOPED_TRACE(c.path);
        const std::string path = kDevices + c.path;
        struct stat st;
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.mode);
        EXPECT_EQ(file_text(path), c.text);
    }
}

TEST(EmulatedTree, LabelsAreNumberedInProbeOrderUnlessPinned) {
    struct numbering_case {
        const char *what;
        emu_probe_order order;
        int core_number;  // -1: by probe order
        std::string core_dir, strap_dir;
    };
    const numbering_case cases[] = {
        {"high address first", emu_probe_order::high_address_first, -1, "core_v2_eeprom1",
         "strap_v2_eeprom0"},
        {"low address first", emu_probe_order::low_address_first, -1, "core_v2_eeprom0",
         "strap_v2_eeprom1"},
        {"pinned", emu_probe_order::high_address_first, 7, "core_v2_eeprom7", "strap_v2_eeprom0"},
    };
    for (const numbering_case &c : cases) {
        SCOPED_TRACE(c.what);
        emu_headset hs = emu_standard_headset();
        hs.probe_order = c.order;
        hs.chips[0].label_number = c.core_number;
        ASSERT_TRUE(mount_headset(hs));
        EXPECT_EQ(emu_label_dir(hs, hs.chips[0]), c.core_dir);
        EXPECT_EQ(emu_label_dir(hs, hs.chips[1]), c.strap_dir);
        for (const std::string &dir : {"1-0050/" + c.core_dir, "1-0051/" + c.strap_dir}) {
            struct stat st;
            EXPECT_EQ(stat((kDevices + dir).c_str(), &st), 0) << dir;
            std::string bus_link = "/sys/bus/nvmem/devices/" + dir.substr(dir.find('/') + 1);
            EXPECT_EQ(stat((bus_link + "/nvmem").c_str(), &st), 0) << bus_link;
        }
    }
}

TEST(EmulatedTree, NvmemHoldsTheSameBytesAsEeprom) {
    char dir[] = "/tmp/vellum-nvmem-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string backing = std::string(dir) + "/core.bin";
    for (bool backed : {false, true}) {
        SCOPED_TRACE(backed ? "backing file" : "tmpfs");
        emu_headset hs = emu_standard_headset();
        if (backed)
            hs.chips[0].backing_file = backing;
        ASSERT_TRUE(mount_headset(hs));
        const std::string nvmem = kDevices + "1-0050/core_v2_eeprom1/nvmem";
        write_chip(hs.chips[0], 8000, {0x12, 0x34});
        EXPECT_EQ(probe(nvmem, {"r:4:7999", "w:1:8191:77"}),
                  (std::vector<std::string>{"4", "1"}));
        std::vector<uint8_t> bytes = read_chip(hs.chips[0]);
        ASSERT_EQ(bytes.size(), 8192u);
        EXPECT_EQ(bytes[8000], 0x12);
        EXPECT_EQ(bytes[8191], 0x77);
        // The label directory has no link back to its device.
        struct stat st;
        EXPECT_NE(lstat((kDevices + "1-0050/core_v2_eeprom1/device").c_str(), &st), 0);
    }
    unlink(backing.c_str());
    rmdir(dir);
}

TEST(EmulatedTree, EachMountStartsFreshAndReplacesTheLastOne) {
    emu_headset hs = emu_standard_headset();
    hs.chips[0].contents = {1, 2, 3};
    ASSERT_TRUE(mount_headset(hs));
    write_chip(hs.chips[0], 100, {0xAB});
    std::vector<uint8_t> bytes = read_chip(hs.chips[0]);
    ASSERT_EQ(bytes.size(), 8192u);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[3], 0xFF);
    EXPECT_EQ(bytes[100], 0xAB);

    hs.chips[0].contents.clear();
    ASSERT_TRUE(mount_headset(hs));
    EXPECT_EQ(read_chip(hs.chips[0]), std::vector<uint8_t>(8192, 0xFF));

    int stacked = 0;
    FILE *f = std::fopen("/proc/self/mountinfo", "re");
    ASSERT_NE(f, nullptr);
    char line[1024];
    while (std::fgets(line, sizeof line, f))
        stacked += std::string(line).find(" /sys ") != std::string::npos &&
                   std::string(line).find(" emulated_sysfs ") != std::string::npos;
    std::fclose(f);
    EXPECT_EQ(stacked, 1);
}

TEST(EmulatedTree, BackingFileHoldsTheChipAcrossMounts) {
    char dir[] = "/tmp/vellum-backing-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string file = std::string(dir) + "/strap.bin";
    emu_headset hs;
    hs.chips = {emu_strap_chip()};
    hs.chips[0].backing_file = file;
    ASSERT_TRUE(mount_headset(hs));
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 4096);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    write_chip(hs.chips[0], 4000, {0x11, 0x22});

    ASSERT_TRUE(mount_headset(hs));
    std::vector<uint8_t> bytes = read_chip(hs.chips[0]);
    ASSERT_EQ(bytes.size(), 4096u);
    EXPECT_EQ(bytes[3999], 0xFF);
    EXPECT_EQ(bytes[4000], 0x11);
    EXPECT_EQ(bytes[4001], 0x22);

    // A file of the wrong size is refused rather than silently resized.
    ASSERT_EQ(truncate(file.c_str(), 100), 0);
    std::string err;
    EXPECT_FALSE(emu_mount_sys(hs, &err));
    EXPECT_NE(err.find("100 bytes"), std::string::npos) << err;
    unlink(file.c_str());
    rmdir(dir);
}

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

TEST(Harness, CapturesStreamsExactlyAndTellsSignalsFromExits) {
    run_result r = run_program("/bin/sh", {"-c", "cat; printf 'a\\0b'; printf err >&2; exit 3"},
                               {}, "in\n");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.out, std::string("in\na\0b", 6));
    EXPECT_EQ(r.err, "err");

    r = run_program("/bin/sh", {"-c", "cat; kill -SEGV $$"});
    EXPECT_EQ(r.out, "");  // stdin is /dev/null
    EXPECT_EQ(r.signal, SIGSEGV);
    EXPECT_EQ(r.status, -1);
}

TEST(Harness, RegionImageIsLaidOutAndSealed) {
    std::vector<uint8_t> image =
        region_image(16, 0x11223344, 5, 0x00, {{.offset = 9, .bytes = {0x61, 0x62}}}, 0x00);
    const std::vector<uint8_t> expected = {0x44, 0x33, 0x22, 0x11, 5, 0, 0, 0,
                                           0x00, 0x61, 0x62, 0xA5, 0, 0,
                                           0x19, 0x3E};
    EXPECT_EQ(image, expected);
    // Reference values: Fletcher-16 of "abcde" and of 0xFF bytes.
    const uint8_t abcde[] = {'a', 'b', 'c', 'd', 'e'};
    EXPECT_EQ(fletcher16(abcde, 5), 0xC8F0);
    const uint8_t ff[] = {0xFF, 0xFF};
    EXPECT_EQ(fletcher16(ff, 2), 0x0000);
}

TEST(Harness, VellumRunsUnderThePreload) {
    emu_headset hs = emu_standard_headset();
    ASSERT_TRUE(mount_headset(hs));
    run_result r = run_vellum({"version"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.signal, 0);
    EXPECT_NE(r.out, "");
}

}  // namespace
