// The station file the provisioning tests apply, verify and build chips
// from: one line per kind of value, and what each leaves in its region.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "end_to_end.h"

namespace {

const bytes CALIBRATION = pattern(1500);

struct provision_line {
    std::string line;
    const region_fact *region;
    image_item item;
};

const std::vector<provision_line> PROVISION = {
    {"board_revision \"EVT 3\"", &BOOTLOADER, field("board_revision", "EVT 3")},
    {"imu_rev B   # the IMU's revision", &BOOTLOADER, field("imu_rev", "B")},
    {"unit_sn 1A2B3C4D5E6F7", &CORE, field("unit_sn", "1A2B3C4D5E6F7")},
    {R"(unit_config "say \"hi\" \\ #1")", &CORE, field("unit_config", R"(say "hi" \ #1)")},
    {"mac_addr_wifi 00:1a:2b:3c:4d:5e", &CORE,
     field("mac_addr_wifi", bytes{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E})},
    {"prox_near\t1200", &CORE, field("prox_near", le16(1200))},
    {"  ipd_min -3200 150 0", &CORE, field("ipd_min", ipd(-3200, 150, 0))},
    {"device_config %D/cal.bin", &VRCAL, blob("device_config", CALIBRATION)},
    {"strap_sn S0000042", &STRAP_GEN2, field("strap_sn", "S0000042")},
    {"left_audio_temp 25", &STRAP_GEN2, field("left_audio_temp", le16(25))},
};

inline std::string provision_file(const std::string &eol) {
    std::string out = "# station 4" + eol + eol;
    for (const provision_line &p : PROVISION) out += p.line + eol;
    return out;
}

// The image of a region that applying the station file to a reset one
// leaves, locked or not.
inline bytes provisioned(const region_fact &r, uint8_t lock = 0xFF) {
    std::vector<image_item> items;
    for (const provision_line &p : PROVISION)
        if (p.region == &r) items.push_back(p.item);
    return image_for(r, items, 0, lock);
}
// Every region of the standard headset so, or reset.
inline std::vector<placed> provisioned_headset(uint8_t lock = 0xFF) {
    std::vector<placed> out;
    for (const region_fact *r : {&BOOTLOADER, &CORE, &VRCAL, &STRAP_GEN2})
        out.push_back({r, provisioned(*r, lock)});
    return out;
}

// Line number of the first line after `prefix`.
inline std::string line_after(const std::string &prefix) {
    return std::to_string(std::count(prefix.begin(), prefix.end(), '\n') + 1);
}

const std::string FOUND_STRAP = found(STRAP_GEN2);
const std::string FOUND_ALL = found("bootloader") + found("core") + found("vrcal") + FOUND_STRAP;

}  // namespace
