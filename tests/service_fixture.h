// The end-to-end rows of the factory and service commands: a headset of
// the given generations seeded with images, files in a scratch directory,
// one run of the tool, and every chip and file compared afterwards.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "headset_fixtures.h"

namespace {

using bytes = std::vector<uint8_t>;
using files = std::vector<std::pair<std::string, std::optional<bytes>>>;

inline bytes text(std::string_view s) { return bytes(s.begin(), s.end()); }
inline bytes ipd(int16_t x, int16_t y, int16_t z) {
    bytes out;
    for (int16_t v : {x, y, z}) {
        const bytes b = le16(static_cast<uint16_t>(v));
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}
inline bytes pattern(size_t n) {
    bytes out(n);
    for (size_t i = 0; i < n; i++) out[i] = static_cast<uint8_t>(i * 37 + 11);
    return out;
}

const bytes CALIBRATION = pattern(1500);

// One provisioning line and what it leaves in its region.
struct provision_line {
    std::string line;
    const region_spec *region;
    image_item item;
};

const std::vector<provision_line> PROVISION = {
    {"board_revision \"EVT 3\"", &BOOTLOADER, {9, text_bytes("EVT 3", 32)}},
    {"imu_rev B   # the IMU's revision", &BOOTLOADER, {75, {'B'}}},
    {"unit_sn 1A2B3C4D5E6F7", &CORE, {24, text_bytes("1A2B3C4D5E6F7", 14)}},
    {R"(unit_config "say \"hi\" \\ #1")", &CORE, {39, text_bytes(R"(say "hi" \ #1)", 32)}},
    {"mac_addr_wifi 00:1a:2b:3c:4d:5e", &CORE, {72, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}}},
    {"prox_near\t1200", &CORE, {86, le16(1200)}},
    {"  ipd_min -3200 150 0", &CORE, {95, ipd(-3200, 150, 0)}},
    {"device_config %D/cal.bin", &VRCAL, {9, blob_field(CALIBRATION, 2147)}},
    {"strap_sn S0000042", &STRAP_GEN2, {9, text_bytes("S0000042", 14)}},
    {"left_audio_temp 25", &STRAP_GEN2, {117, le16(25)}},
};

inline std::string provision_file(const std::string &eol) {
    std::string out = "# station 4" + eol + eol;
    for (const provision_line &p : PROVISION) out += p.line + eol;
    return out;
}

inline std::vector<image_item> provisioned(const region_spec &r) {
    std::vector<image_item> items;
    for (const provision_line &p : PROVISION)
        if (p.region == &r) items.push_back(p.item);
    return items;
}

// Line number of the first line after `prefix`.
inline std::string line_after(const std::string &prefix) {
    return std::to_string(std::count(prefix.begin(), prefix.end(), '\n') + 1);
}

inline std::string uninit(const std::string &r) {
    return "EEPROM Uninitialized, run:\n\tvellum reset " + r + "\n";
}
inline std::string strap_found() { return found("strap", "1-0051"); }
const std::string FOUND_ALL = found("bootloader") + found("core") + found("vrcal") + strap_found();
const std::string CHECKSUM = "EEPROM Checksum Corrupt. run TODO\n";
const std::string NO_BASE = "opendir(/sys/bus/i2c/devices) ret: 2\n";

struct seeded {
    const region_spec *region;
    bytes image;
};

// One run on a fresh headset (core_gen -1: no bus directory at all). Texts
// and arguments have %D (scratch directory) and %V (the binary) expanded;
// {"sh", script} runs the script with /bin/sh. Afterwards each chip holds
// its seeded bytes with `after` written over them, and each file in
// `files_after` holds its bytes (nullopt: does not exist).
struct chip_row {
    const char *what;
    int core_gen, strap_gen;
    std::vector<seeded> seeds;
    files files_before;
    std::vector<std::string> args;
    int status;
    std::string out, err;
    std::vector<seeded> after = {};
    files files_after = {};
    std::vector<std::string> env = {};
    std::string input = "";
};

class Service : public ScratchTest {
protected:
    void play(const std::vector<chip_row> &rows) {
        for (const chip_row &row : rows) {
            SCOPED_TRACE(row.what);
            empty_dir();
            emu_headset hs = emu_standard_headset();
            if (row.core_gen < 0) {
                hs.chips.clear();
                hs.base_dir = false;
                ASSERT_TRUE(mount_headset(hs));
            } else {
                hs = headset(row.core_gen, row.strap_gen);
            }
            for (const seeded &s : row.seeds)
                write_chip(hs.chips[s.region->chip], s.region->offset, s.image);
            for (const auto &[name, data] : row.files_before) write_file(dir_ + "/" + name, *data);
            std::vector<bytes> model;
            for (const emu_device &chip : hs.chips) model.push_back(read_chip(chip));
            for (const seeded &s : row.after)
                std::copy(s.image.begin(), s.image.end(),
                          model[s.region->chip].begin() + s.region->offset);

            std::vector<std::string> args;
            for (const std::string &a : row.args) args.push_back(expand(a));
            const run_result r = args[0] == "sh"
                                     ? run_program("/bin/sh", {"-c", args[1]}, row.env, row.input)
                                     : run_vellum(args, row.env, expand(row.input));
            EXPECT_EQ(r.signal, 0);
            EXPECT_EQ(r.status, row.status);
            EXPECT_EQ(r.out, expand(row.out));
            EXPECT_EQ(r.err, expand(row.err));
            for (size_t c = 0; c < hs.chips.size(); c++)
                EXPECT_EQ(difference(read_chip(hs.chips[c]), model[c]), "") << "chip " << c;
            for (const auto &[name, data] : row.files_after)
                EXPECT_EQ(read_file(dir_ + "/" + name), data) << name;
        }
    }
};

}  // namespace
