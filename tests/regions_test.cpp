// Region maintenance end to end: reset, lock, unlock and upgrade through the
// real binary, with the whole of every chip compared after each run against
// what the run may have changed. A maintenance command that writes a byte
// outside its own region destroys a neighbour's calibration, so "the rest of
// the chip is untouched" is part of every expectation here.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "headset_fixtures.h"

namespace {

using bytes = std::vector<uint8_t>;

// Whole chips, for seeding every byte and for expecting every byte.
const region_spec CORE_CHIP = {"core chip", 0, 0, 0, 0, 8192};
const region_spec STRAP_CHIP = {"strap chip", 1, 0, 0, 0, 4096};

// `bytes` at byte `at` of the region.
struct patch {
    const region_spec *region;
    bytes data;
    uint32_t at = 0;
};

struct scene {
    int core_gen = 2;   // 0: no core chip
    int strap_gen = 2;  // 0: no strap chip
    std::vector<patch> seeds = {};
    bool sysfs = true;  // false: no /sys/bus/i2c/devices at all
};

struct step {
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
    std::vector<patch> writes = {};  // everything the run changes on the chips
    int pwrites = -1;                // pwrite calls, -1: not checked
    std::vector<std::string> env = {};
    int opendirs = -1;  // openings of /sys/bus/i2c/devices, -1: not checked
};

// A blank image as a reset leaves it, or a seeded one.
bytes image(const region_spec &r, const std::vector<image_item> &items = {}, uint8_t lock = 0xFF,
            uint32_t version = 0) {
    const uint32_t v = version ? version : r.latest;
    const uint32_t size = &r == &CORE ? core_size(v) : r.size;
    return region_image(size, r.magic, v, lock, items);
}

bytes relocked(bytes img, uint8_t lock) {
    img[8] = lock;
    reseal(img);
    return img;
}

// One item byte off by one: the checksum no longer matches.
bytes corrupted(bytes img) {
    img[20] ^= 0x01;
    return img;
}

bytes with_magic(bytes img, uint32_t magic) {
    const bytes m = le32(magic);
    std::copy(m.begin(), m.end(), img.begin());
    reseal(img);
    return img;
}

// An item written by `set`: value, valid marker, fresh checksum.
bytes with_item(bytes img, size_t offset, const bytes &value) {
    std::copy(value.begin(), value.end(), img.begin() + static_cast<long>(offset));
    img[offset + value.size()] = 0xA5;
    reseal(img);
    return img;
}

// A core image of an older layout as an upgrade to 5 leaves it: the old
// bytes where they were (the old checksum now inside the first new item),
// version 5, zeros from the old end to the new checksum (the buffer of a
// fresh process; the new items' markers at 271 and 274 fall in there) and
// the checksum over 277 bytes.
bytes upgraded_core(bytes img) {
    img.resize(core_size(5), 0x00);
    const bytes v = le32(5);
    std::copy(v.begin(), v.end(), img.begin() + 4);
    reseal(img);
    return img;
}

bytes filled(size_t n, uint8_t seed) {
    bytes out(n);
    for (size_t i = 0; i < n; i++) out[i] = static_cast<uint8_t>(seed + i * 7);
    return out;
}

bytes head(const bytes &b, size_t n) { return bytes(b.begin(), b.begin() + static_cast<long>(n)); }

std::string reseting(const std::string &r) { return " Reseting " + r + "\n"; }
std::string locking(const std::string &r) { return " Locking " + r + "\n"; }
std::string unlocking(const std::string &r) { return " Unlocking " + r + "\n"; }
std::string uninit(const std::string &r) {
    return "EEPROM Uninitialized, run:\n\tvellum reset " + r + "\n";
}
std::string invalidating(const std::string &item) {
    return "Invalidating New Entry " + item + "\n";
}
std::string upgrading(const std::string &r, int from, int to) {
    return "Upgrading " + r + " from " + std::to_string(from) + " to " + std::to_string(to) + "\n";
}
std::string not_set(const std::string &item) { return item + " has not been set!\n"; }
std::string needs_item(const std::string &cmd) {
    return "\n" + cmd + " command requires an item!\n" + hint(cmd);
}
std::string not_found(const std::string &word, const std::string &cmd) {
    return "\n" + word + " was not found!\n" + hint(cmd);
}
std::string strap_found() { return found("strap", "1-0051"); }

const std::string WRITE_FAILED = "EEPROM write failed on errno: 5\n";
const std::string LATEST = "Already Latest Version!\n";
const std::string NO_BASE = "opendir(/sys/bus/i2c/devices) ret: 2\n";
const std::string CHECKSUM = "EEPROM Checksum Corrupt. run TODO\n";
const std::string FOREIGN = "EEPROM has unexpected magic number, contact Client\n";
const std::string FAIL_FIRST_WRITE = "EMU_EEPROM_FAIL_WRITE=1";

void put(std::vector<bytes> &chips, const patch &p) {
    bytes &chip = chips.at(p.region->chip);
    const size_t at = p.region->offset + p.at;
    ASSERT_LE(at + p.data.size(), chip.size()) << p.region->name;
    std::copy(p.data.begin(), p.data.end(), chip.begin() + static_cast<long>(at));
}

// Mounts the scene, then runs the steps in order, each a fresh process,
// checking both chips byte for byte after each.
void play(const scene &s, const std::vector<step> &steps) {
    emu_headset hs;
    if (s.sysfs) {
        hs = headset(s.core_gen, s.strap_gen);
    } else {
        hs = emu_standard_headset();
        hs.chips.clear();
        hs.base_dir = false;
        ASSERT_TRUE(mount_headset(hs));
    }
    std::vector<bytes> model;
    for (const emu_device &chip : hs.chips) model.push_back(read_chip(chip));
    for (const patch &p : s.seeds) {
        put(model, p);
        write_chip(hs.chips.at(p.region->chip), p.region->offset + p.at, p.data);
    }
    for (size_t i = 0; i < steps.size(); i++) {
        const step &st = steps[i];
        SCOPED_TRACE("step " + std::to_string(i + 1));
        const run_result r = expect_run({st.args, st.status, st.out, st.err}, st.env);
        if (st.pwrites >= 0) {
            EXPECT_EQ(count_calls(r, "pwrite"), static_cast<size_t>(st.pwrites));
        }
        if (st.opendirs != -1) {
            EXPECT_EQ(count_calls(r, "opendir /sys/bus/i2c/devices"),
                      expected_listings(st.opendirs));
        }
        for (const patch &p : st.writes) put(model, p);
        for (size_t c = 0; c < hs.chips.size(); c++) {
            SCOPED_TRACE("chip " + std::to_string(c));
            EXPECT_EQ(difference(read_chip(hs.chips[c]), model[c]), "");
        }
    }
}

struct row {
    const char *what;
    scene setup;
    step run;
};

void play_rows(const std::vector<row> &rows) {
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        play(r.setup, {r.run});
    }
}

TEST(RegionsCommand, WordsSelectRegionsAndEveryCommandAsksForTheStrap) {
    const scene GEN2 = {};
    const scene NO_SYSFS = {.sysfs = false};
    play_rows({
        {"reset without a word", GEN2, {{"reset"}, "", needs_item("reset"), 7, {}, 0, {}, 0}},
        {"lock with two words", GEN2,
         {{"lock", "core", "strap"}, "", needs_item("lock"), 7, {}, 0, {}, 0}},
        {"unlock without a word", GEN2, {{"unlock"}, "", needs_item("unlock"), 7, {}, 0, {}, 0}},
        {"upgrade with two words", GEN2,
         {{"upgrade", "core", "x"}, "", needs_item("upgrade"), 7, {}, 0, {}, 0}},
        {"word longer than the name", GEN2,
         {{"reset", "cores"}, "", not_found("cores", "reset"), 7, {}, 0, {}, LISTINGS_FOR_BOTH}},
        {"names are case-sensitive", GEN2,
         {{"lock", "Core"}, "", not_found("Core", "lock"), 7, {}, 0, {}, LISTINGS_FOR_BOTH}},
        {"no strap region matches either", GEN2,
         {{"unlock", "straps"}, "", not_found("straps", "unlock"), 7, {}, 0, {}, LISTINGS_FOR_BOTH}},
        {"c is core", GEN2,
         {{"reset", "c"}, "", found("core") + reseting("core"), 0, {{&CORE, image(CORE)}}, 3, {},
          LISTINGS_FOR_BOTH}},
        {"b is bootloader", GEN2,
         {{"reset", "b"}, "", found("bootloader") + reseting("bootloader"), 0,
          {{&BOOTLOADER, image(BOOTLOADER)}}, 3, {}, LISTINGS_FOR_BOTH}},
        // An unset shell variable must not select the first region: the
        // empty word names none, before any device is looked at.
        {"the empty word names no region to reset", GEN2,
         {{"reset", ""}, "", not_found("", "reset"), 7, {}, 0, {}, 0}},
        {"the empty word names no region to lock", GEN2,
         {{"lock", ""}, "", not_found("", "lock"), 7, {}, 0, {}, 0}},
        {"the empty word names no region to unlock", GEN2,
         {{"unlock", ""}, "", not_found("", "unlock"), 7, {}, 0, {}, 0}},
        {"the empty word names no region to upgrade", GEN2,
         {{"upgrade", ""}, "", not_found("", "upgrade"), 7, {}, 0, {}, 0}},
        {"v is vrcal for unlock too", GEN2,
         {{"unlock", "v"}, "", found("vrcal") + uninit("vrcal"), 6, {}, 0, {}, LISTINGS_FOR_BOTH}},
        {"s is the strap", GEN2,
         {{"reset", "s"}, "", strap_found() + reseting("strap"), 0,
          {{&STRAP_GEN2, image(STRAP_GEN2)}}, 3, {}, LISTINGS_FOR_BOTH}},
        {"v is vrcal", GEN2,
         {{"reset", "v"}, "", found("vrcal") + reseting("vrcal"), 0, {{&VRCAL, image(VRCAL)}}, 3,
          {}, LISTINGS_FOR_BOTH}},
        {"no vrcal on the first-generation core", {.core_gen = 1},
         {{"reset", "vrcal"}, "", not_found("vrcal", "reset"), 7, {}, 0, {}, 1}},
        // The second-generation strap label is not in the core probe's
        // listing, so the strap probe lists the bus again.
        {"first-generation core", {.core_gen = 1, .strap_gen = 1},
         {{"reset", "core"}, "", found("core") + reseting("core"), 0, {{&CORE, image(CORE)}}, 3,
          {}, 2}},
        {"first-generation strap beside a second-generation core", {.strap_gen = 1},
         {{"reset", "st"}, "", strap_found() + reseting("strap"), 0,
          {{&STRAP_GEN1, image(STRAP_GEN1)}}, 3, {}, 2}},
        {"strap chip absent", {.strap_gen = 0},
         {{"reset", "strap"}, "", "Failed to find strap_eeprom in sysfs - check dts files\n", 11,
          {}, 0}},
        {"no sysfs: core probe, strap probe, core lookup", NO_SYSFS,
         {{"reset", "core"}, "", NO_BASE + NO_BASE + NO_BASE, 254}},
        {"no sysfs: strap lookup", NO_SYSFS, {{"lock", "s"}, "", NO_BASE + NO_BASE + NO_BASE, 254}},
        {"no sysfs: first-generation names", NO_SYSFS,
         {{"upgrade", "vrcal"}, "", NO_BASE + NO_BASE + not_found("vrcal", "upgrade"), 7}},
        {"no sysfs: word count checked first", NO_SYSFS,
         {{"unlock", "core", "x"}, "", needs_item("unlock"), 7}},
    });
}

TEST(RegionsMaintenance, EffectsAndFailures) {
    const std::vector<image_item> items = {{.offset = 24, .bytes = text_bytes("SN-5", 14)},
                                           {.offset = 72, .bytes = {1, 2, 3, 4, 5, 6}},
                                           {.offset = 272, .bytes = le16(3)}};
    const bytes core = image(CORE, items);
    const bytes locked = image(CORE, items, 0x00);
    const bytes v3 = image(CORE, {{.offset = 24, .bytes = text_bytes("SN-3", 14)}}, 0xFF, 3);
    const bytes v4 = image(CORE, {{.offset = 240, .bytes = text_bytes("MW-4", 31)}}, 0xFF, 4);
    const scene chip_pattern = {.seeds = {{&CORE_CHIP, filled(8192, 1)},
                                          {&STRAP_CHIP, filled(4096, 2)}}};
    const auto with = [](std::vector<patch> seeds, int strap_gen = 2) {
        return scene{.strap_gen = strap_gen, .seeds = std::move(seeds)};
    };
    const std::string FC = found("core");
    play_rows({
        // Reset writes the newest layout over whatever was there, and only
        // the region's own bytes.
        {"reset core among foreign bytes", chip_pattern,
         {{"reset", "core"}, "", FC + reseting("core"), 0, {{&CORE, image(CORE)}}, 3}},
        {"reset bootloader among foreign bytes", chip_pattern,
         {{"reset", "bootloader"}, "", found("bootloader") + reseting("bootloader"), 0,
          {{&BOOTLOADER, image(BOOTLOADER)}}, 3}},
        {"reset vrcal among foreign bytes", chip_pattern,
         {{"reset", "vrcal"}, "", found("vrcal") + reseting("vrcal"), 0, {{&VRCAL, image(VRCAL)}},
          4}},
        {"reset strap among foreign bytes", chip_pattern,
         {{"reset", "strap"}, "", strap_found() + reseting("strap"), 0,
          {{&STRAP_GEN2, image(STRAP_GEN2)}}, 3}},
        {"reset a locked image", with({{&CORE, locked}}),
         {{"reset", "core"}, "", FC + reseting("core"), 0, {{&CORE, image(CORE)}}, 5}},
        {"reset a corrupt image", with({{&CORE, corrupted(core)}}),
         {{"reset", "core"}, "", FC + reseting("core"), 0, {{&CORE, image(CORE)}}, 5}},
        {"reset a foreign image", with({{&CORE, with_magic(core, VRCAL.magic)}}),
         {{"reset", "core"}, "", FC + reseting("core"), 0, {{&CORE, image(CORE)}}, 5}},
        {"reset a too new image", with({{&CORE, image(CORE, items, 0xFF, 6)}}),
         {{"reset", "core"}, "", FC + reseting("core"), 0, {{&CORE, image(CORE)}}, 5}},
        {"reset an older layout", with({{&CORE, v3}}),
         {{"reset", "core"}, "", FC + reseting("core"), 0, {{&CORE, image(CORE)}}, 4}},
        {"reset a first-generation image on a second-generation strap",
         with({{&STRAP_GEN2, image(STRAP_GEN1)}}),
         {{"reset", "strap"}, "", strap_found() + reseting("strap"), 0,
          {{&STRAP_GEN2, image(STRAP_GEN2)}}, 3}},
        {"reset, store fails", with({{&CORE, core}}),
         {{"reset", "core"}, "", FC + reseting("core") + WRITE_FAILED, 3, {}, 1,
          {FAIL_FIRST_WRITE}}},
        // The guard bytes (0xFF 0xFF at the checksum) go first: on a blank
        // chip they change nothing; then the header, then the checksum fails.
        {"reset vrcal, checksum write fails", {},
         {{"reset", "vrcal"}, "", found("vrcal") + reseting("vrcal") + WRITE_FAILED, 3,
          {{&VRCAL, head(image(VRCAL), 4096)}}, 3, {"EMU_EEPROM_FAIL_WRITE=3"}}},

        // Lock writes 0x00 whatever the lock byte held.
        {"lock", with({{&CORE, core}}),
         {{"lock", "core"}, "", FC + locking("core"), 0, {{&CORE, locked}}, 3}},
        {"lock twice writes nothing", with({{&CORE, locked}}),
         {{"lock", "core"}, "", FC + locking("core"), 0, {{&CORE, locked}}, 0}},
        {"lock over an odd lock byte", with({{&CORE, relocked(core, 0x42)}}),
         {{"lock", "core"}, "", FC + locking("core"), 0, {{&CORE, locked}}, 3}},
        {"lock vrcal", with({{&VRCAL, image(VRCAL)}}),
         {{"lock", "vrcal"}, "", found("vrcal") + locking("vrcal"), 0,
          {{&VRCAL, image(VRCAL, {}, 0x00)}}, 3}},
        {"lock uninitialised", {}, {{"lock", "core"}, "", FC + uninit("core"), 6, {}, 0}},
        {"lock corrupt", with({{&CORE, corrupted(core)}}),
         {{"lock", "core"}, "", FC + CHECKSUM, 5, {}, 0}},
        {"lock, store fails", with({{&CORE, core}}),
         {{"lock", "core"}, "", FC + locking("core") + WRITE_FAILED, 3, {}, 1,
          {FAIL_FIRST_WRITE}}},

        // Unlock writes 0xFF whatever the lock byte held.
        {"unlock", with({{&CORE, locked}}),
         {{"unlock", "core"}, "", FC + unlocking("core"), 0, {{&CORE, core}}, 3}},
        {"unlock an unlocked region writes nothing", with({{&CORE, core}}),
         {{"unlock", "core"}, "", FC + unlocking("core"), 0, {{&CORE, core}}, 0}},
        {"unlock an odd lock byte", with({{&CORE, relocked(core, 0x42)}}),
         {{"unlock", "core"}, "", FC + unlocking("core"), 0, {{&CORE, core}}, 3}},
        {"unlock strap", with({{&STRAP_GEN2, image(STRAP_GEN2, {}, 0x00)}}),
         {{"unlock", "strap"}, "", strap_found() + unlocking("strap"), 0,
          {{&STRAP_GEN2, image(STRAP_GEN2)}}, 3}},
        {"unlock uninitialised", {},
         {{"unlock", "vrcal"}, "", found("vrcal") + uninit("vrcal"), 6, {}, 0}},
        {"unlock foreign", with({{&CORE, with_magic(locked, STRAP_GEN2.magic)}}),
         {{"unlock", "core"}, "", FC + FOREIGN, 5, {}, 0}},
        {"unlock, store fails", with({{&CORE, locked}}),
         {{"unlock", "core"}, "", FC + unlocking("core") + WRITE_FAILED, 3, {}, 1,
          {FAIL_FIRST_WRITE}}},

        // Upgrade: nothing to do at the newest layout; refused when locked.
        {"upgrade at latest", with({{&CORE, core}}),
         {{"upgrade", "core"}, "", FC + LATEST, 0, {}, 0}},
        {"upgrade bootloader", with({{&BOOTLOADER, image(BOOTLOADER)}}),
         {{"upgrade", "bootloader"}, "", found("bootloader") + LATEST, 0, {}, 0}},
        {"upgrade vrcal", with({{&VRCAL, image(VRCAL)}}),
         {{"upgrade", "vrcal"}, "", found("vrcal") + LATEST, 0, {}, 0}},
        {"upgrade strap", with({{&STRAP_GEN2, image(STRAP_GEN2)}}),
         {{"upgrade", "strap"}, "", strap_found() + LATEST, 0, {}, 0}},
        {"upgrade first-generation strap", with({{&STRAP_GEN1, image(STRAP_GEN1)}}, 1),
         {{"upgrade", "strap"}, "", strap_found() + LATEST, 0, {}, 0}},
        {"upgrade locked at latest", with({{&CORE, locked}}),
         {{"upgrade", "core"}, "", FC + "cannot upgrade core, eeprom locked!\n", 5, {}, 0}},
        {"upgrade locked older layout", with({{&CORE, relocked(v3, 0x00)}}),
         {{"upgrade", "core"}, "", FC + "cannot upgrade core, eeprom locked!\n", 5, {}, 0}},
        {"upgrade uninitialised", {},
         {{"upgrade", "strap"}, "", strap_found() + uninit("strap"), 6, {}, 0}},
        {"upgrade too new", with({{&CORE, image(CORE, items, 0xFF, 6)}}),
         {{"upgrade", "core"}, "", FC + "Unsupported EEPROM version, upgrade vellum binary.\n", 10,
          {}, 0}},
        {"upgrade unknown older layout", with({{&CORE, image(CORE, {}, 0xFF, 2)}}),
         {{"upgrade", "core"}, "", FC + "EEPROM version not supported, contact Client\n", 5, {},
          0}},
        {"upgrade from 4", with({{&CORE, v4}}),
         {{"upgrade", "core"}, "",
          FC + invalidating("prox_noise") + upgrading("core", 4, 5), 0,
          {{&CORE, upgraded_core(v4)}}, 4}},
        {"upgrade from 3, store fails", with({{&CORE, v3}}),
         {{"upgrade", "core"}, "",
          FC + invalidating("midwall_heat_pipe_sn") + invalidating("prox_noise") +
              upgrading("core", 3, 5) + WRITE_FAILED,
          3, {}, 1, {FAIL_FIRST_WRITE}}},
    });
}

// A blank headset brought into service: every region reset, items filled
// in, the core locked against writes and opened again.
TEST(RegionsScenario, BlankHeadsetInitialisedFilledLockedAndUnlocked) {
    const auto rev = [](const char *s) {
        return std::vector<image_item>{{.offset = 9, .bytes = text_bytes(s, 32)}};
    };
    const auto sn = [](const char *s) {
        return std::vector<image_item>{{.offset = 24, .bytes = text_bytes(s, 14)}};
    };
    const std::vector<image_item> strap_sn = {{.offset = 9, .bytes = text_bytes("ST9", 14)}};
    const std::string FC = found("core"), FB = found("bootloader");
    play({}, {
        {{"reset", "bootloader"}, "", FB + reseting("bootloader"), 0,
         {{&BOOTLOADER, image(BOOTLOADER)}}, 3},
        {{"reset", "core"}, "", FC + reseting("core"), 0, {{&CORE, image(CORE)}}, 3},
        {{"reset", "vrcal"}, "", found("vrcal") + reseting("vrcal"), 0, {{&VRCAL, image(VRCAL)}},
         3},
        {{"reset", "strap"}, "", strap_found() + reseting("strap"), 0,
         {{&STRAP_GEN2, image(STRAP_GEN2)}}, 3},
        {{"get", "unit_sn"}, "", FC + not_set("unit_sn"), 5, {}, 0},
        {{"set", "board_revision", "EVT2"}, "", FB, 0,
         {{&BOOTLOADER, image(BOOTLOADER, rev("EVT2"))}}, 3},
        {{"set", "unit_sn", "SN123"}, "", FC, 0, {{&CORE, image(CORE, sn("SN123"))}}, 3},
        {{"set", "strap_sn", "ST9"}, "", strap_found(), 0,
         {{&STRAP_GEN2, image(STRAP_GEN2, strap_sn)}}, 3},
        {{"lock", "core"}, "", FC + locking("core"), 0,
         {{&CORE, image(CORE, sn("SN123"), 0x00)}}, 3},
        {{"set", "unit_sn", "SN999"}, "", FC + "cannot write unit_sn, eeprom locked!\n", 5, {}, 0},
        {{"get", "unit_sn"}, "SN123", FC + "unit_sn: \n", 0, {}, 0},
        // The lock is the core region's alone.
        {{"set", "board_revision", "EVT3"}, "", FB, 0,
         {{&BOOTLOADER, image(BOOTLOADER, rev("EVT3"))}}, 3},
        {{"unlock", "core"}, "", FC + unlocking("core"), 0, {{&CORE, image(CORE, sn("SN123"))}},
         3},
        {{"set", "unit_sn", "SN999"}, "", FC, 0, {{&CORE, image(CORE, sn("SN999"))}}, 3},
        // A reset forgets the region's items and nothing else.
        {{"reset", "core"}, "", FC + reseting("core"), 0, {{&CORE, image(CORE)}}, 3},
        {{"get", "unit_sn"}, "", FC + not_set("unit_sn"), 5, {}, 0},
        {{"get", "board_revision"}, "EVT3", FB + "board_revision: \n", 0, {}, 0},
        {{"get", "strap_sn"}, "ST9", strap_found() + "strap_sn: \n", 0, {}, 0},
    });
}

// Core regions written by older tools are raised to layout 5 in place: old
// items keep their values, the new ones read as not set until written.
TEST(RegionsScenario, CoreUpgradedFromLayout3) {
    const bytes v3 = image(CORE,
                           {{.offset = 24, .bytes = text_bytes("SN-3", 14)},
                            {.offset = 86, .bytes = le16(1234)},
                            {.offset = 109, .bytes = text_bytes("CM-3", 31)},
                            {.offset = 237, .bytes = le16(7)}},
                           0xFF, 3);
    const bytes up = upgraded_core(v3);
    const bytes noise = with_item(up, 272, le16(9));
    const std::string FC = found("core");
    play({.seeds = {{&CORE, v3}}},
         {
             {{"get", "prox_noise"}, "",
              FC + "cannot read prox_noise, eeprom version not supported!\n", 5, {}, 0},
             {{"upgrade", "core"}, "",
              FC + invalidating("midwall_heat_pipe_sn") + invalidating("prox_noise") +
                  upgrading("core", 3, 5),
              0, {{&CORE, up}}, 4},
             {{"get", "unit_sn"}, "SN-3", FC + "unit_sn: \n", 0, {}, 0},
             {{"get", "prox_near"}, "1234", FC + "prox_near: \n", 0, {}, 0},
             {{"get", "core_cm_sn"}, "CM-3", FC + "core_cm_sn: \n", 0, {}, 0},
             {{"get", "diplexer"}, "7", FC + "diplexer: \n", 0, {}, 0},
             {{"get", "midwall_heat_pipe_sn"}, "", FC + not_set("midwall_heat_pipe_sn"), 5, {}, 0},
             {{"get", "prox_noise"}, "", FC + not_set("prox_noise"), 5, {}, 0},
             {{"set", "prox_noise", "9"}, "", FC, 0, {{&CORE, noise}}, 3},
             {{"get", "prox_noise"}, "9", FC + "prox_noise: \n", 0, {}, 0},
             {{"set", "midwall_heat_pipe_sn", "MW-5"}, "", FC, 0,
              {{&CORE, with_item(noise, 240, text_bytes("MW-5", 31))}}, 4},
             {{"get", "midwall_heat_pipe_sn"}, "MW-5", FC + "midwall_heat_pipe_sn: \n", 0, {}, 0},
             {{"upgrade", "core"}, "", FC + LATEST, 0, {}, 0},
         });
}

TEST(RegionsScenario, CoreUpgradedFromLayout4) {
    const bytes v4 = image(CORE,
                           {{.offset = 24, .bytes = text_bytes("SN-4", 14)},
                            {.offset = 240, .bytes = text_bytes("MW-4", 31)}},
                           0xFF, 4);
    const std::string FC = found("core");
    play({.seeds = {{&CORE, v4}}},
         {
             {{"upgrade", "core"}, "", FC + invalidating("prox_noise") + upgrading("core", 4, 5), 0,
              {{&CORE, upgraded_core(v4)}}, 4},
             {{"get", "unit_sn"}, "SN-4", FC + "unit_sn: \n", 0, {}, 0},
             {{"get", "midwall_heat_pipe_sn"}, "MW-4", FC + "midwall_heat_pipe_sn: \n", 0, {}, 0},
             {{"get", "prox_noise"}, "", FC + not_set("prox_noise"), 5, {}, 0},
             {{"set", "prox_noise", "65535"}, "", FC, 0,
              {{&CORE, with_item(upgraded_core(v4), 272, le16(65535))}}, 3},
         });
}

}  // namespace
