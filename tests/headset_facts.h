// What the tests hold vellum to, in one place: the hardware (each table
// set's regions and items, stated once here and independently of the
// product's tables, which tests/hardware_tables_test.cpp compares with this
// statement), what follows from it, and the texts the tool prints again and
// again. A test that needs an offset, a size or a message takes it from here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// ---------------------------------------------------------------------------
// The hardware, written once.

struct layout_fact {
    uint32_t version;
    uint32_t size;  // the whole image: header, items, checksum
};

// A region of a chip. The label belongs to the table set: the same region
// sits on a chip labelled for the first generation or for the second.
struct region_fact {
    const char *name;
    size_t chip;  // index into emu_headset::chips: 0 core, 1 strap
    uint32_t offset;
    uint32_t magic;
    std::vector<layout_fact> layouts;  // ascending; the last is the newest

    uint32_t latest() const { return layouts.back().version; }
    // The image size at `version` (0: the newest); 0 for a version not listed.
    uint32_t size(uint32_t version = 0) const {
        for (const layout_fact &l : layouts)
            if (l.version == (version ? version : latest())) return l.size;
        return 0;
    }
    std::string device() const { return chip ? "1-0051" : "1-0050"; }
};

inline const region_fact BOOTLOADER = {"bootloader", 0, 0, 0x45F731EA, {{3, 256}}};
inline const region_fact CORE = {"core", 0, 256, 0x45F731EA, {{3, 242}, {4, 274}, {5, 277}}};
inline const region_fact VRCAL = {"vrcal", 0, 1536, 0x5652434C, {{1, 6656}}};
inline const region_fact STRAP_GEN1 = {"strap", 1, 0, 0x24FE4051, {{3, 327}}};
inline const region_fact STRAP_GEN2 = {"strap", 1, 0, 0x4B454C50, {{1, 164}}};
// Whole chips, for seeding and expecting every byte.
inline const region_fact CORE_CHIP = {"core chip", 0, 0, 0, {{0, 8192}}};
inline const region_fact STRAP_CHIP = {"strap chip", 1, 0, 0, {{0, 4096}}};

// An item: its value's place in its region; the valid marker follows it.
// `kind` is the name of the value kind's record.
struct item_fact {
    const char *name;
    const region_fact *region;
    uint16_t offset;
    uint16_t length;
    uint32_t min_version;
    const char *kind;
};

inline const std::vector<item_fact> CORE_ITEMS = {
    {"board_revision", &BOOTLOADER, 9, 32, 1, "string"},
    {"board_minor", &BOOTLOADER, 42, 32, 1, "string"},
    {"imu_rev", &BOOTLOADER, 75, 1, 1, "char"},
    {"mpcba_sn", &CORE, 9, 14, 1, "string"},
    {"unit_sn", &CORE, 24, 14, 1, "string"},
    {"unit_config", &CORE, 39, 32, 1, "string"},
    {"mac_addr_wifi", &CORE, 72, 6, 1, "mac_address"},
    {"mac_addr_ble", &CORE, 79, 6, 1, "mac_address"},
    {"prox_near", &CORE, 86, 2, 1, "uint16"},
    {"prox_mid", &CORE, 89, 2, 1, "uint16"},
    {"prox_far", &CORE, 92, 2, 1, "uint16"},
    {"ipd_min", &CORE, 95, 6, 1, "ipd_xyz"},
    {"ipd_max", &CORE, 102, 6, 1, "ipd_xyz"},
    {"core_cm_sn", &CORE, 109, 31, 3, "string"},
    {"core_assembly_cm_sn", &CORE, 141, 31, 3, "string"},
    {"heat_pipe_sn", &CORE, 173, 31, 3, "string"},
    {"fan_sn", &CORE, 205, 31, 3, "string"},
    {"diplexer", &CORE, 237, 2, 3, "uint16"},
    {"midwall_heat_pipe_sn", &CORE, 240, 31, 4, "string"},
    {"prox_noise", &CORE, 272, 2, 5, "uint16"},
};
inline const std::vector<item_fact> BLOB_ITEMS = {
    {"device_config", &VRCAL, 9, 2147, 1, "binary"},
    {"xrservice", &VRCAL, 2157, 3067, 1, "binary"},
    {"eyetracking", &VRCAL, 5225, 1428, 1, "binary"},
};
inline const std::vector<item_fact> STRAP_GEN1_ITEMS = {
    {"strap_sn", &STRAP_GEN1, 9, 14, 2, "string"},
    {"strap_revision", &STRAP_GEN1, 24, 32, 2, "string"},
    {"strap_minor", &STRAP_GEN1, 57, 32, 2, "string"},
    {"strap_config", &STRAP_GEN1, 90, 32, 2, "string"},
    {"audio_module_vendor", &STRAP_GEN1, 123, 32, 2, "string"},
    {"left_audio_sn", &STRAP_GEN1, 156, 32, 2, "string"},
    {"left_audio_temp", &STRAP_GEN1, 190, 2, 2, "uint16"},
    {"left_audio_resistance", &STRAP_GEN1, 193, 2, 2, "uint16"},
    {"left_audio_admittance", &STRAP_GEN1, 196, 4, 2, "uint32"},
    {"left_audio_temp_protect", &STRAP_GEN1, 201, 2, 2, "uint16"},
    {"left_audio_temp_coeff", &STRAP_GEN1, 204, 4, 2, "uint32"},
    {"right_audio_sn", &STRAP_GEN1, 209, 32, 2, "string"},
    {"right_audio_temp", &STRAP_GEN1, 242, 2, 2, "uint16"},
    {"right_audio_resistance", &STRAP_GEN1, 245, 2, 2, "uint16"},
    {"right_audio_admittance", &STRAP_GEN1, 248, 4, 2, "uint32"},
    {"right_audio_temp_protect", &STRAP_GEN1, 253, 2, 2, "uint16"},
    {"right_audio_temp_coeff", &STRAP_GEN1, 256, 4, 2, "uint32"},
    {"strap_cm_sn", &STRAP_GEN1, 261, 31, 3, "string"},
    {"strap_assembly_cm_sn", &STRAP_GEN1, 293, 31, 3, "string"},
};
inline const std::vector<item_fact> STRAP_GEN2_ITEMS = {
    {"strap_sn", &STRAP_GEN2, 9, 14, 1, "string"},
    {"strap_revision", &STRAP_GEN2, 24, 8, 1, "string"},
    {"strap_minor", &STRAP_GEN2, 33, 8, 1, "string"},
    {"strap_config", &STRAP_GEN2, 42, 8, 1, "string"},
    {"audio_module_vendor", &STRAP_GEN2, 51, 32, 1, "string"},
    {"left_audio_sn", &STRAP_GEN2, 84, 32, 1, "string"},
    {"left_audio_temp", &STRAP_GEN2, 117, 2, 1, "uint16"},
    {"left_audio_resistance", &STRAP_GEN2, 120, 2, 1, "uint16"},
    {"right_audio_sn", &STRAP_GEN2, 123, 32, 1, "string"},
    {"right_audio_temp", &STRAP_GEN2, 156, 2, 1, "uint16"},
    {"right_audio_resistance", &STRAP_GEN2, 159, 2, 1, "uint16"},
};

// A table set: what one generation of one board carries, on one chip.
struct table_set_fact {
    const char *name;
    const char *label;  // the chip's device-tree label
    std::vector<const region_fact *> regions;
    std::vector<item_fact> items;
};

inline std::vector<item_fact> joined(std::vector<item_fact> a, const std::vector<item_fact> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline const table_set_fact CORE_GEN1 = {"core gen1", "core_eeprom", {&BOOTLOADER, &CORE}, CORE_ITEMS};
inline const table_set_fact CORE_GEN2 = {
    "core gen2", "core_v2_eeprom", {&BOOTLOADER, &CORE, &VRCAL}, joined(CORE_ITEMS, BLOB_ITEMS)};
inline const table_set_fact STRAP_GEN1_SET = {"strap gen1", "strap_eeprom", {&STRAP_GEN1}, STRAP_GEN1_ITEMS};
inline const table_set_fact STRAP_GEN2_SET = {
    "strap gen2", "strap_v2_eeprom", {&STRAP_GEN2}, STRAP_GEN2_ITEMS};

inline const table_set_fact &core_set(int generation) { return generation == 1 ? CORE_GEN1 : CORE_GEN2; }
inline const table_set_fact &strap_set(int generation) {
    return generation == 1 ? STRAP_GEN1_SET : STRAP_GEN2_SET;
}
inline const region_fact &strap_of(int generation) { return generation == 1 ? STRAP_GEN1 : STRAP_GEN2; }

// ---------------------------------------------------------------------------
// Derived from the statement.

// The item named so: a core item, else one of the strap of `strap_generation`
// (an item only the first-generation strap has is found either way).
const item_fact &item(std::string_view name, int strap_generation = 2);

// Item names of a set, and of the items of one region of it, in table order.
std::vector<std::string> item_names(const std::vector<item_fact> &items, const region_fact *region = nullptr);

// ---------------------------------------------------------------------------
// The texts the tool prints, byte for byte.

inline const std::string USAGE =
    "\nvellum <cmd> <item (optional)> <item_val (optional)>\ne.g. vellum help\n\n";
std::string version_line();
inline const std::string SYSFS = "/sys/bus/i2c/devices";

// Finding, opening and reading a chip.
std::string found(const std::string &region, const std::string &device = "1-0050");
inline std::string found(const region_fact &r) { return found(r.name, r.device()); }
std::string opendir_failed(int error = 2, const std::string &dir = SYSFS);
inline const std::string NO_SYSFS = opendir_failed();
std::string label_missing(const std::string &label);
std::string open_failed(const std::string &region, const std::string &path_or_device = "1-0050",
                        int error = 2);
inline const std::string READ_HEADER = "Read Header Failed on errno: ";
inline const std::string READ_DATA = "Read Data Failed on errno: ";
inline const std::string WRITE_ERRNO = "EEPROM write failed on errno: ";
inline const std::string VERIFY_FAILED = "EEPROM verify failed\n";
inline const std::string WRITE_FAILED = "Write Failed!\n";  // standard output

// Loading an image.
std::string uninit(const std::string &region);
inline const std::string MAGIC = "EEPROM has unexpected magic number, contact Client\n";
inline const std::string TOO_NEW = "Unsupported EEPROM version, upgrade vellum binary.\n";
inline const std::string NO_LAYOUT = "EEPROM version not supported, contact Client\n";
inline const std::string CHECKSUM = "EEPROM Checksum Corrupt. run TODO\n";

// Items.
std::string shown(const std::string &item);  // the label before a value
std::string not_set(const std::string &item);
std::string not_in_layout(const char *op, const std::string &item);  // op: "read", "write"
std::string locked(const std::string &item);
std::string blob_is_set(const std::string &item);
std::string written(const std::string &what, const std::string &file);
std::string size_refused(long size, long limit);

// Regions.
std::string reseting(const std::string &region);
std::string locking(const std::string &region);
std::string unlocking(const std::string &region);
std::string restoring(const std::string &region);
std::string upgrading(const std::string &region, int from, int to);
std::string invalidating(const std::string &item);
inline const std::string LATEST = "Already Latest Version!\n";
std::string applying(int items, const std::string &region, bool dry_run = false);

// The command line.
std::string hint(const std::string &command);
std::string needs_item(const std::string &command);
std::string not_found(const std::string &word, const std::string &command);
std::string needs(const std::string &command, const std::string &what);  // "a file name", ...
std::string cannot_open(const std::string &file, int error);             // reading
std::string cannot_create(const std::string &file, int error);           // writing
std::string is_chip(const std::string &file);
inline const std::string HEADINGS = "Core EEPROM Data:\n\nStrap EEPROM Data:\n";

std::string repeat(const std::string &text, size_t times);
