// Shared pieces of the end-to-end tests: the regions of the emulated
// headsets, seeding them with images, and the tool's recurring texts.
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"

// Where a region lives and what a valid image of it looks like.
struct region_spec {
    const char *name;
    size_t chip;  // index into emu_headset::chips: 0 core, 1 strap
    uint32_t offset;
    uint32_t magic;
    uint32_t latest;
    uint32_t size;  // size at the latest version
};

inline const region_spec BOOTLOADER = {"bootloader", 0, 0, 0x45F731EA, 3, 256};
inline const region_spec CORE = {"core", 0, 256, 0x45F731EA, 5, 277};
inline const region_spec VRCAL = {"vrcal", 0, 1536, 0x5652434C, 1, 6656};
inline const region_spec STRAP_GEN1 = {"strap", 1, 0, 0x24FE4051, 3, 327};
inline const region_spec STRAP_GEN2 = {"strap", 1, 0, 0x4B454C50, 1, 164};

// Size of a core region image at each of its layout versions.
inline uint32_t core_size(uint32_t version) {
    return version == 3 ? 242 : version == 4 ? 274 : 277;
}

// Item names of each table, in table order.
inline const std::vector<std::string> CORE_ITEMS = {
    "board_revision", "board_minor", "imu_rev", "mpcba_sn", "unit_sn", "unit_config",
    "mac_addr_wifi", "mac_addr_ble", "prox_near", "prox_mid", "prox_far", "ipd_min",
    "ipd_max", "core_cm_sn", "core_assembly_cm_sn", "heat_pipe_sn", "fan_sn", "diplexer",
    "midwall_heat_pipe_sn", "prox_noise"};
inline const std::vector<std::string> BLOB_ITEMS = {"device_config", "xrservice", "eyetracking"};
inline const std::vector<std::string> STRAP_ITEMS_GEN1 = {
    "strap_sn", "strap_revision", "strap_minor", "strap_config", "audio_module_vendor",
    "left_audio_sn", "left_audio_temp", "left_audio_resistance", "left_audio_admittance",
    "left_audio_temp_protect", "left_audio_temp_coeff", "right_audio_sn", "right_audio_temp",
    "right_audio_resistance", "right_audio_admittance", "right_audio_temp_protect",
    "right_audio_temp_coeff", "strap_cm_sn", "strap_assembly_cm_sn"};
inline const std::vector<std::string> STRAP_ITEMS_GEN2 = {
    "strap_sn", "strap_revision", "strap_minor", "strap_config", "audio_module_vendor",
    "left_audio_sn", "left_audio_temp", "left_audio_resistance", "right_audio_sn",
    "right_audio_temp", "right_audio_resistance"};

// The device entries in the order the bus directory lists them.
inline std::vector<std::string> listed_devices() {
    std::vector<std::string> names;
    if (DIR *d = opendir("/sys/bus/i2c/devices")) {
        while (const dirent *e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

// Listings of the I2C devices a command makes, as expected in a table, where
// LISTINGS_FOR_BOTH stands for a command that finds the second-generation
// labels of both boards on the standard headset (core chip at 1-0050, strap
// chip at 1-0051). That takes one listing when the kernel lists the strap's
// chip first: the core's probe reads its directory on the way, and the
// strap's probe is answered from that. Otherwise the strap's probe lists the
// devices again. Which comes first depends on the kernel's name hash.
inline constexpr int LISTINGS_FOR_BOTH = -2;
inline size_t expected_listings(int listings) {
    if (listings != LISTINGS_FOR_BOTH) return static_cast<size_t>(listings);
    for (const std::string &name : listed_devices()) {
        if (name == "1-0051") return 1;
        if (name == "1-0050") return 2;
    }
    return 2;
}

inline const std::string USAGE =
    "\nvellum <cmd> <item (optional)> <item_val (optional)>\ne.g. vellum help\n\n";

// "Found core EEPROM at: /sys/bus/i2c/devices/1-0050/eeprom\n"
inline std::string found(const std::string &region, const std::string &device = "1-0050") {
    return "Found " + region + " EEPROM at: /sys/bus/i2c/devices/" + device + "/eeprom\n";
}

inline std::string hint(const std::string &command) {
    return "For a list of items run:\nvellum help " + command + "\n\n";
}

// The version the build stamps into the binary is the project's version.
inline std::string version_line() { return std::string("vellum Version: ") + VELLUM_VERSION + "\n"; }

// The help listing for the given generations: descriptions in column 24,
// region and item names indented by eight under the commands that take them.
inline std::string help_text(int core, int strap) {
    auto indented = [](const std::vector<std::string> &names) {
        std::string out;
        for (const std::string &n : names) out += "        " + n + "\n";
        return out;
    };
    std::vector<std::string> regions = {"bootloader", "core"};
    if (core == 2) regions.push_back("vrcal");
    regions.push_back("strap");
    std::vector<std::string> items = CORE_ITEMS;
    if (core == 2) items.insert(items.end(), BLOB_ITEMS.begin(), BLOB_ITEMS.end());
    const auto &straps = strap == 2 ? STRAP_ITEMS_GEN2 : STRAP_ITEMS_GEN1;
    items.insert(items.end(), straps.begin(), straps.end());

    enum listing { none, region_names, item_names };
    const struct {
        std::string name, description;
        listing below;
    } commands[] = {
        {"help", "Print all commands and items", none},
        {"version", "Display the Version", none},
        {"print_all", "Prints all EEPROM data", none},
        {"reset", "Reset the EEPROM", region_names},
        {"lock", "Lock the given EEPROM", region_names},
        {"unlock", "Unlock the given EEPROM", region_names},
        {"upgrade", "Upgrade the given EEPROM to latest version", region_names},
        {"get", "Get an EEPROM item", item_names},
        {"set", "Set an EEPROM item", item_names},
        {"check", "Check every EEPROM region", none},
        {"dump", "Save a region image to a file", region_names},
        {"restore", "Write a region image from a file", region_names},
        {"export", "Print all EEPROM data as JSON", none},
        {"apply", "Set the items listed in a file", none},
        {"verify", "Compare the items listed in a file", none},
    };
    std::string text = "\nCOMMAND                DESCRIPTION\n" + std::string(40, '-') + "\n";
    for (const auto &c : commands) {
        text += c.name + std::string(23 - c.name.size(), ' ') + c.description + "\n";
        if (c.below == region_names) text += indented(regions);
        if (c.below == item_names) text += indented(items);
    }
    return text;
}

// (item, region) of a family's table, in table order.
inline std::vector<std::pair<std::string, std::string>> family(int core, int strap) {
    std::vector<std::pair<std::string, std::string>> out;
    if (core)
        for (size_t i = 0; i < CORE_ITEMS.size(); i++)
            out.emplace_back(CORE_ITEMS[i], i < 3 ? "bootloader" : "core");
    if (core == 2)
        for (const std::string &b : BLOB_ITEMS) out.emplace_back(b, "vrcal");
    for (const std::string &s : strap == 1 ? STRAP_ITEMS_GEN1 : strap == 2 ? STRAP_ITEMS_GEN2
                                                                       : std::vector<std::string>{})
        out.emplace_back(s, "strap");
    return out;
}

using line_fn = std::function<std::string(const std::string &item, const std::string &region)>;

// What print_all shows for one table whose chip opens: each region's lookup
// line before its first item, a value for every item in `values`, the line
// from `lines` for others, `fallback` for the rest.
inline void walk(std::string &out, std::string &err, const std::vector<std::pair<std::string, std::string>> &items,
          const std::map<std::string, std::string> &values,
          const std::map<std::string, std::string> &lines = {},
          const line_fn &fallback = [](const std::string &i, const std::string &) { return i + " has not been set!\n"; }) {
    std::string region;
    for (const auto &[item, r] : items) {
        if (r != region) err += found(r, r == "strap" ? "1-0051" : "1-0050");
        region = r;
        if (values.count(item)) {
            out += values.at(item);
            err += item + ": \n";
        } else {
            err += lines.count(item) ? lines.at(item) : fallback(item, r);
        }
    }
}

// Mounts a headset of the given generations (0: chip absent), chips blank.
inline emu_headset headset(int core_generation = 2, int strap_generation = 2) {
    emu_headset hs = emu_standard_headset();
    hs.chips.clear();
    if (core_generation) hs.chips.push_back(emu_core_chip(core_generation));
    if (strap_generation) hs.chips.push_back(emu_strap_chip(strap_generation));
    EXPECT_TRUE(mount_headset(hs));
    return hs;
}

// An image of the region (latest version unless given) holding the items, as
// a reset followed by sets would leave it.
inline std::vector<uint8_t> image_for(const region_spec &r,
                                      const std::vector<image_item> &items = {},
                                      uint32_t version = 0, uint8_t lock = 0xFF) {
    const uint32_t v = version ? version : r.latest;
    const uint32_t size = r.offset == CORE.offset && r.magic == CORE.magic ? core_size(v) : r.size;
    return region_image(size, r.magic, v, lock, items);
}

inline void seed(const emu_headset &hs, const region_spec &r,
                 const std::vector<image_item> &items = {}, uint32_t version = 0,
                 uint8_t lock = 0xFF) {
    write_chip(hs.chips[r.chip], r.offset, image_for(r, items, version, lock));
}

// The bytes of a region as they are on the chip now.
inline std::vector<uint8_t> region_bytes(const emu_headset &hs, const region_spec &r,
                                         uint32_t size = 0) {
    const std::vector<uint8_t> chip = read_chip(hs.chips[r.chip]);
    const uint32_t n = size ? size : r.size;
    return std::vector<uint8_t>(chip.begin() + r.offset, chip.begin() + r.offset + n);
}

// One expected run of the tool: streams and status compared byte for byte.
struct expected_run {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
};

inline run_result expect_run(const expected_run &e, const std::vector<std::string> &env = {}) {
    std::string cmd = "vellum";
    for (const std::string &a : e.args) cmd += " '" + a + "'";
    SCOPED_TRACE(cmd);
    run_result r = run_vellum(e.args, env);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, e.status);
    EXPECT_EQ(r.out, e.out);
    EXPECT_EQ(r.err, e.err);
    return r;
}

// "" when equal, else where the first difference lies (dumping 8 KiB helps
// nobody).
inline std::string difference(const std::vector<uint8_t> &got, const std::vector<uint8_t> &want) {
    if (got == want) return "";
    if (got.size() != want.size())
        return "size " + std::to_string(got.size()) + ", want " + std::to_string(want.size());
    size_t first = 0, count = 0;
    for (size_t i = 0; i < got.size(); i++)
        if (got[i] != want[i] && count++ == 0) first = i;
    char buf[96];
    std::snprintf(buf, sizeof buf, "%zu bytes differ, first at %zu: 0x%02X, want 0x%02X", count,
                  first, got[first], want[first]);
    return buf;
}

// Every `token` in `s` replaced by `with`.
inline std::string replaced(std::string s, const std::string &token, const std::string &with) {
    for (size_t at; (at = s.find(token)) != std::string::npos;) s.replace(at, token.size(), with);
    return s;
}

// A blob item's field of `length` bytes: the data length (LE16), the data,
// zeros to the end.
inline std::vector<uint8_t> blob_field(const std::vector<uint8_t> &data, size_t length) {
    std::vector<uint8_t> field = le16(static_cast<uint16_t>(data.size()));
    field.insert(field.end(), data.begin(), data.end());
    field.resize(length, 0);
    return field;
}

// A file's bytes, or nothing when it cannot be opened.
inline std::optional<std::vector<uint8_t>> read_file(const std::string &path) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return std::nullopt;
    std::vector<uint8_t> out;
    for (int c; (c = std::fgetc(f)) != EOF;) out.push_back(static_cast<uint8_t>(c));
    std::fclose(f);
    return out;
}

inline void write_file(const std::string &path, const std::vector<uint8_t> &data) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    if (!data.empty()) {
        EXPECT_EQ(std::fwrite(data.data(), 1, data.size(), f), data.size());
    }
    EXPECT_EQ(std::fclose(f), 0);
}

// A scratch directory per test for the files the commands read and write.
class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vellum-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    void empty_dir() {
        std::filesystem::remove_all(dir_);
        ASSERT_EQ(mkdir(dir_.c_str(), 0700), 0);
    }
    // "%D" stands for the scratch directory, "%V" for the command that runs vellum.
    std::string expand(const std::string &s) const {
        return replaced(replaced(s, "%D", dir_), "%V", VELLUM_COMMAND);
    }
    std::string dir_;
};
