// Tests of the emulated headset itself, and of the harness that runs vellum
// on it: if the tree drifts from what the kernel shows, every other test
// loses its meaning.

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
