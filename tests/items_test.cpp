// The item commands get, set and print_all, run as the real binary on an
// emulated headset: what each kind of value looks like on the chip and on the
// two streams, how item names are matched, and what a refused value leaves
// behind (nothing).
#include "headset_fixtures.h"

#include <functional>
#include <map>
#include <utility>

namespace {

const region_spec &strap_of(int generation) { return generation == 1 ? STRAP_GEN1 : STRAP_GEN2; }

std::string device_of(const region_spec &r) { return r.chip == 0 ? "1-0050" : "1-0051"; }
std::string found_in(const region_spec &r) { return found(r.name, device_of(r)); }
std::string not_set(const std::string &item) { return item + " has not been set!\n"; }
std::string uninit(const std::string &region) {
    return "EEPROM Uninitialized, run:\n\tvellum reset " + region + "\n";
}
std::string repeat(const std::string &s, size_t n) {
    std::string out;
    while (n--) out += s;
    return out;
}

struct placed {
    const region_spec *r;
    image_item item;
};

// Every region of the fitted chips holds a valid image at its newest layout,
// as a reset leaves it, plus the given items.
void provision(const emu_headset &hs, int core, int strap, const std::vector<placed> &items = {}) {
    std::vector<const region_spec *> regions;
    if (core) regions.insert(regions.end(), {&BOOTLOADER, &CORE});
    if (core == 2) regions.push_back(&VRCAL);
    if (strap) regions.push_back(&strap_of(strap));
    for (const region_spec *r : regions) {
        std::vector<image_item> mine;
        for (const placed &p : items)
            if (p.r == r) mine.push_back(p.item);
        seed(hs, *r, mine);
    }
}

std::vector<std::vector<uint8_t>> chips(const emu_headset &hs) {
    std::vector<std::vector<uint8_t>> all;
    for (const emu_device &chip : hs.chips) all.push_back(read_chip(chip));
    return all;
}

size_t transfer_count(const run_result &r) { return transfers(r).size(); }

std::vector<uint8_t> bytes(std::initializer_list<int> list) {
    std::vector<uint8_t> out;
    for (int b : list) out.push_back(static_cast<uint8_t>(b));
    return out;
}

const std::string S13 = "ABCDEFGHIJKLM";                   // unit_sn holds 13 and a zero
const std::string S30 = "0123456789abcdefghijklmnopqrst";  // 31-byte fields hold 30

// ---------------------------------------------------------------------------

TEST(ItemsRoundTrip, EveryScalarKindOnEveryGenerationStoresReadsAndInterleaves) {
    struct row {
        int core, strap;
        const region_spec *r;
        std::vector<std::string> value;  // item name, then the value words
        uint16_t offset;
        std::vector<uint8_t> field;  // the item's bytes on the chip afterwards
        std::string shown;           // what get prints on standard output
        std::vector<image_item> before = {};
    };
    const row rows[] = {
        {2, 2, &BOOTLOADER, {"board_revision", "EVT3"}, 9, text_bytes("EVT3", 32), "EVT3"},
        {2, 2, &BOOTLOADER, {"imu_rev", "B"}, 75, bytes({'B'}), "B"},
        {2, 2, &CORE, {"unit_sn", S13}, 24, text_bytes(S13, 14), S13},
        // A shorter string leaves nothing of the longer one behind it.
        {2, 2, &CORE, {"unit_sn", "XY"}, 24, text_bytes("XY", 14), "XY",
         {{.offset = 24, .bytes = text_bytes(S13, 14)}}},
        {2, 2, &CORE, {"unit_config", ""}, 39, text_bytes("", 32), ""},
        {2, 2, &CORE, {"mac_addr_wifi", "1:2:3:4:5:6"}, 72, bytes({1, 2, 3, 4, 5, 6}),
         "01:02:03:04:05:06"},
        // White space after a value is accepted: values read from files end
        // in a blank, a carriage return or a newline.
        {2, 2, &CORE, {"mac_addr_ble", "a0:Bc:de:F1:23:45\r"}, 79,
         bytes({0xA0, 0xBC, 0xDE, 0xF1, 0x23, 0x45}), "A0:BC:DE:F1:23:45"},
        {2, 2, &CORE, {"mac_addr_ble", " 1:2:3:04:5:f \n"}, 79, bytes({1, 2, 3, 4, 5, 0xF}),
         "01:02:03:04:05:0F"},
        {2, 2, &CORE, {"prox_near", "65535"}, 86, le16(65535), "65535"},
        {2, 2, &CORE, {"prox_mid", "12\r"}, 89, le16(12), "12"},
        {2, 2, &CORE, {"prox_mid", "+5 \t\v\f"}, 89, le16(5), "5"},
        {2, 2, &CORE, {"prox_far", " +258"}, 92, le16(258), "258"},
        {2, 2, &CORE, {"ipd_min", "-32768", "0", "32767"}, 95,
         bytes({0x00, 0x80, 0x00, 0x00, 0xFF, 0x7F}), "-32768, 0, 32767"},
        {2, 2, &CORE, {"ipd_max", "1", "-2", "300"}, 102,
         bytes({0x01, 0x00, 0xFE, 0xFF, 0x2C, 0x01}), "1, -2, 300"},
        {2, 2, &CORE, {"diplexer", "4660"}, 237, le16(0x1234), "4660"},
        {2, 2, &CORE, {"ipd_max", " -1\r", "+2 ", "0003\n"}, 102,
         bytes({0xFF, 0xFF, 0x02, 0x00, 0x03, 0x00}), "-1, 2, 3"},
        {2, 2, &CORE, {"midwall_heat_pipe_sn", S30}, 240, text_bytes(S30, 31), S30},
        {2, 2, &CORE, {"prox_noise", "0"}, 272, le16(0), "0"},
        {1, 1, &BOOTLOADER, {"board_minor", "m1"}, 42, text_bytes("m1", 32), "m1"},
        {1, 1, &CORE, {"mac_addr_wifi", "de:ad:be:ef:00:01"}, 72,
         bytes({0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01}), "DE:AD:BE:EF:00:01"},
        {1, 2, &CORE, {"ipd_min", "-1", "-1", "-1"}, 95, bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
         "-1, -1, -1"},
        {1, 2, &CORE, {"fan_sn", S30}, 205, text_bytes(S30, 31), S30},
        {1, 1, &STRAP_GEN1, {"strap_sn", "S1"}, 9, text_bytes("S1", 14), "S1"},
        {2, 1, &STRAP_GEN1, {"left_audio_admittance", "4294967295"}, 196, le32(4294967295u),
         "4294967295"},
        {2, 1, &STRAP_GEN1, {"right_audio_temp_coeff", "-1"}, 256, le32(4294967295u),
         "4294967295"},
        {2, 1, &STRAP_GEN1, {"left_audio_temp_coeff", "305419896"}, 204, le32(0x12345678),
         "305419896"},
        {2, 1, &STRAP_GEN1, {"right_audio_admittance", "-4294967295 "}, 248, le32(1), "1"},
        {2, 1, &STRAP_GEN1, {"left_audio_admittance", "+7\r"}, 196, le32(7), "7"},
        {2, 1, &STRAP_GEN1, {"left_audio_temp_protect", "80"}, 201, le16(80), "80"},
        {2, 1, &STRAP_GEN1, {"strap_assembly_cm_sn", S30}, 293, text_bytes(S30, 31), S30},
        {1, 2, &STRAP_GEN2, {"strap_revision", "1234567"}, 24, text_bytes("1234567", 8), "1234567"},
        {2, 2, &STRAP_GEN2, {"right_audio_resistance", "8"}, 159, le16(8), "8"},
        {2, 2, &STRAP_GEN2, {"audio_module_vendor", "ACOUSTIC-7"}, 51, text_bytes("ACOUSTIC-7", 32),
         "ACOUSTIC-7"},
    };
    for (const row &c : rows) {
        const std::string &item = c.value[0];
        SCOPED_TRACE(item + " = " + c.shown);
        emu_headset hs = headset(c.core, c.strap);
        provision(hs, c.core, c.strap, {});
        seed(hs, *c.r, c.before);

        std::vector<std::string> set = {"set"};
        set.insert(set.end(), c.value.begin(), c.value.end());
        expect_run({set, 0, "", found_in(*c.r)});
        // The whole image is rewritten: only the item, its marker and the
        // checksum may differ from what was there.
        std::vector<image_item> after = c.before;
        after.push_back({.offset = c.offset, .bytes = c.field});
        const uint32_t size = c.r == &CORE ? core_size(c.r->latest) : c.r->size;
        EXPECT_EQ(region_bytes(hs, *c.r),
                  region_image(size, c.r->magic, c.r->latest, 0xFF, after));

        expect_run({{"get", item}, 0, c.shown, found_in(*c.r) + item + ": \n"});
        // Label, value and newline come out in that order on one stream.
        run_result merged = run_program("/bin/sh", {"-c", "exec \"$0\" get \"$1\" 2>&1",
                                                    VELLUM_COMMAND, item});
        EXPECT_EQ(merged.status, 0);
        EXPECT_EQ(merged.out, found_in(*c.r) + item + ": " + c.shown + "\n");
    }
}

// One provisioned headset, many command lines: lookup, word counts, getter
// output for bytes no setter writes, and items that are not set.
TEST(ItemsCommandLine, LookupWordCountsAndStoredBytesPrintAsDescribed) {
    emu_headset hs = headset(2, 2);
    provision(hs, 2, 2,
              {{&BOOTLOADER, {.offset = 9, .bytes = text_bytes("EVT3", 32)}},
               {&BOOTLOADER, {.offset = 75, .bytes = {0x07}}},
               // No terminator: all 14 bytes print, and not the marker after them.
               {&CORE, {.offset = 24, .bytes = text_bytes("ABCDEFGHIJKLMN", 14)}},
               {&CORE, {.offset = 86, .bytes = le16(300)}},
               {&CORE, {.offset = 89, .bytes = bytes({1, 0, 0x00}), .valid = false}},
               {&CORE, {.offset = 102, .bytes = bytes({0xFF, 0x7F, 0x00, 0x80, 0x00, 0x00})}},
               {&STRAP_GEN2, {.offset = 9, .bytes = text_bytes("STRAP-1", 14)}}});
    const auto before = chips(hs);
    const std::string core = found("core"), strap = found("strap", "1-0051");
    const std::string get_usage = "\nget command requires an item!\n" + hint("get");
    const expected_run rows[] = {
        {{"get", "unit_sn"}, 0, "ABCDEFGHIJKLMN", core + "unit_sn: \n"},
        {{"get", "unit_sn", "extra"}, 0, "ABCDEFGHIJKLMN", core + "unit_sn: \n"},
        {{"get", "unit_sn", "a", "b"}, 7, "", get_usage},
        {{"get"}, 7, "", get_usage},
        {{"get", "unit_snX"}, 7, "", "\nunit_snX was not found!\n" + hint("get")},
        {{"get", "Unit_sn"}, 7, "", "\nUnit_sn was not found!\n" + hint("get")},
        {{"get", "left_audio_admittance"}, 7, "",
         "\nleft_audio_admittance was not found!\n" + hint("get")},
        {{"get", "prox"}, 0, "300", core + "prox_near: \n"},
        {{"get", "strap"}, 0, "STRAP-1", strap + "strap_sn: \n"},
        // The empty word (an unset variable) names no item; prefixes do.
        {{"get", ""}, 7, "", "\n was not found!\n" + hint("get")},
        {{"get", "", "x"}, 7, "", "\n was not found!\n" + hint("get")},
        {{"set", "", "EVT9"}, 7, "", "\n was not found!\n" + hint("set")},
        {{"set", ""}, 7, "", "\n was not found!\n" + hint("set")},
        {{"get", "b"}, 0, "EVT3", found("bootloader") + "board_revision: \n"},
        {{"get", "left_audio"}, 5, "", strap + not_set("left_audio_sn")},
        {{"get", "imu_rev"}, 0, "\x07", found("bootloader") + "imu_rev: \n"},
        {{"get", "ipd_max"}, 0, "32767, -32768, 0", core + "ipd_max: \n"},
        {{"get", "prox_mid"}, 5, "", core + not_set("prox_mid")},
        {{"get", "prox_far"}, 5, "", core + not_set("prox_far")},
        {{"get", "mac_addr_ble", "x"}, 5, "", core + not_set("mac_addr_ble")},
        {{"set"}, 7, "", "\nset command requires an item and atleast one value!\n" + hint("set")},
        {{"set", "unit_sn"}, 7, "", "\nset string command requires an item value!\n"},
        {{"set", "nosuch", "1"}, 7, "", "\nnosuch was not found!\n" + hint("set")},
    };
    for (const expected_run &c : rows) expect_run(c);
    EXPECT_EQ(chips(hs), before);
}

// A refused value is refused before the chip is opened: no lookup line, no
// transfer, chips as they were.
TEST(ItemsSetRefused, BadValuesNeverReachTheChip) {
    emu_headset hs = headset(2, 1);
    provision(hs, 2, 1);
    const auto before = chips(hs);
    const std::string u16 = "\nset uint command requires an item value!\n";
    auto over16 = [](const std::string &w) { return "\nset uint16_t value - " + w + " - would overflow!\n"; };
    auto bad16 = [](const std::string &w) { return "\nset uint16_t value - " + w + " - incorrect length!\n"; };
    auto over32 = [](const std::string &w) { return "\nset uint32_t value - " + w + " - would overflow!\n"; };
    auto bad32 = [](const std::string &w) { return "\nset uint32_t value - " + w + " - incorrect length!\n"; };
    auto mac_len = [](const std::string &w) { return "\nset mac address - " + w + " - incorrect length!\n"; };
    auto ipd = [](const char *axis, const std::string &w, const char *what) {
        return std::string("\nset IPD ") + axis + " value - " + w + " - " + what + "!\n";
    };
    const std::string ipd_count = "\nset IPD XYZ command requires three item values!\n";
    const std::string A = "incorrect length", O = "would overflow";
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"unit_sn"}, "\nset string command requires an item value!\n"},
        {{"unit_sn", "a", "b"}, "\nset string command requires an item value!\n"},
        {{"unit_sn", "ABCDEFGHIJKLMN"},
         "\nset unit_sn = ABCDEFGHIJKLMN requires string to be less than 14 bytes!\n"},
        {{"midwall_heat_pipe_sn", S30 + "u"},
         "\nset midwall_heat_pipe_sn = " + S30 + "u requires string to be less than 31 bytes!\n"},
        {{"imu_rev"}, "\nset char command requires an item value!\n"},
        {{"imu_rev", "AB"}, "\nset imu_rev = AB requires 1 character!\n"},
        {{"imu_rev", ""}, "\nset imu_rev =  requires 1 character!\n"},
        {{"imu_rev", "A", "B"}, "\nset char command requires an item value!\n"},
        {{"mac_addr_wifi"}, "\nset mac address command requires an item value!\n"},
        {{"mac_addr_wifi", "1:2:3:4:5:6", "7"}, "\nset mac address command requires an item value!\n"},
        {{"mac_addr_wifi", "1:2:3"}, mac_len("1:2:3")},
        {{"mac_addr_wifi", "123:4:5:6:7:8"}, mac_len("123:4:5:6:7:8")},
        {{"mac_addr_wifi", "1-2-3-4-5-6"}, mac_len("1-2-3-4-5-6")},
        {{"mac_addr_wifi", "zz:1:2:3:4:5"}, mac_len("zz:1:2:3:4:5")},
        // A pair is one or two hexadecimal digits and nothing else: no sign,
        // no "0x", no blank after a colon (so no pair exceeds 0xFF).
        {{"mac_addr_wifi", "-1:2:3:4:5:6"}, mac_len("-1:2:3:4:5:6")},
        {{"mac_addr_ble", "1:2:3:4:5:-1"}, mac_len("1:2:3:4:5:-1")},
        {{"mac_addr_wifi", "0x:1a:2b:3c:4d:5e"}, mac_len("0x:1a:2b:3c:4d:5e")},
        {{"mac_addr_wifi", "+1:2:3:4:5:6"}, mac_len("+1:2:3:4:5:6")},
        {{"mac_addr_wifi", "1:2:3:4:5:-0"}, mac_len("1:2:3:4:5:-0")},
        {{"mac_addr_wifi", "1a: 2b:3c:4d:5e:6f"}, mac_len("1a: 2b:3c:4d:5e:6f")},
        {{"prox_near"}, u16},
        {{"prox_near", "1", "2"}, u16},
        {{"prox_near", "65536"}, over16("65536")},
        {{"prox_near", "-1"}, over16("-1")},
        {{"prox_near", "4294967296"}, over16("4294967296")},
        {{"prox_near", "4294967297"}, over16("4294967297")},
        {{"prox_near", "18446744073709551616"}, over16("18446744073709551616")},
        {{"prox_near", "abc"}, bad16("abc")},
        {{"prox_near", ""}, bad16("")},
        {{"prox_near", "-"}, bad16("-")},
        {{"prox_noise", "x12"}, bad16("x12")},
        {{"left_audio_admittance"}, u16},
        {{"left_audio_admittance", "1", "2"}, u16},
        {{"left_audio_admittance", "4294967296"}, over32("4294967296")},
        {{"left_audio_admittance", "-4294967296"}, over32("-4294967296")},
        {{"right_audio_temp_coeff", "99999999999999999999"}, over32("99999999999999999999")},
        {{"left_audio_temp_coeff", "abc"}, bad32("abc")},
        {{"left_audio_temp", "65536"}, over16("65536")},
        {{"ipd_min", "1", "2"}, ipd_count},
        {{"ipd_min", "1", "2", "3", "4"}, ipd_count},
        {{"ipd_min", "0", "0", "32768"}, ipd("Z", "32768", O.c_str())},
        {{"ipd_min", "-32769", "0", "0"}, ipd("X", "-32769", O.c_str())},
        {{"ipd_min", "4294967296", "0", "0"}, ipd("X", "4294967296", O.c_str())},
        {{"ipd_max", "0", "4294967296", "0"}, ipd("Y", "4294967296", O.c_str())},
        {{"ipd_max", "0", "y", "0"}, ipd("Y", "y", A.c_str())},
        {{"ipd_max", "x", "y", "z"}, ipd("X", "x", A.c_str())},
        {{"ipd_max", "1", "2", "99999"}, ipd("Z", "99999", O.c_str())},
        // A value word is the value and nothing else: text after the number
        // or the sixth pair refuses the word, before any range check.
        {{"prox_near", "0x10"}, bad16("0x10")},
        {{"prox_near", "1e3"}, bad16("1e3")},
        {{"prox_near", "1.9"}, bad16("1.9")},
        {{"prox_near", "12abc"}, bad16("12abc")},
        {{"prox_near", "99999abc"}, bad16("99999abc")},
        {{"prox_near", "-1x"}, bad16("-1x")},
        {{"prox_near", "5 x"}, bad16("5 x")},
        {{"prox_near", "5\r\n."}, bad16("5\r\n.")},
        {{"prox_near", "+"}, bad16("+")},
        {{"prox_near", " \r"}, bad16(" \r")},
        {{"prox_near", "+-5"}, bad16("+-5")},
        {{"prox_mid", "\xEF\xBC\x95"}, bad16("\xEF\xBC\x95")},  // a full-width digit
        {{"left_audio_admittance", "0x10"}, bad32("0x10")},
        {{"left_audio_admittance", "1e3"}, bad32("1e3")},
        {{"left_audio_admittance", "4294967295.0"}, bad32("4294967295.0")},
        {{"right_audio_temp_coeff", "99999999999abc"}, bad32("99999999999abc")},
        {{"right_audio_temp_coeff", "7 7"}, bad32("7 7")},
        {{"ipd_min", "0x7", "0", "0"}, ipd("X", "0x7", A.c_str())},
        {{"ipd_min", "1", "2.5", "3"}, ipd("Y", "2.5", A.c_str())},
        {{"ipd_min", "1", "2", "99999abc"}, ipd("Z", "99999abc", A.c_str())},
        {{"ipd_min", "1", "2", "3e0"}, ipd("Z", "3e0", A.c_str())},
        {{"ipd_min", "-1-", "2", "3"}, ipd("X", "-1-", A.c_str())},
        {{"mac_addr_wifi", "00:11:22:33:44:556"}, mac_len("00:11:22:33:44:556")},
        {{"mac_addr_wifi", "00:11:22:33:44:55:66"}, mac_len("00:11:22:33:44:55:66")},
        {{"mac_addr_wifi", "00:11:22:33:44:55:"}, mac_len("00:11:22:33:44:55:")},
        {{"mac_addr_wifi", "00:11:22:33:44:55 x"}, mac_len("00:11:22:33:44:55 x")},
        {{"mac_addr_wifi", "00:11:22:33:44:5g"}, mac_len("00:11:22:33:44:5g")},
        {{"mac_addr_wifi", "1:2:3:4:5:6.7"}, mac_len("1:2:3:4:5:6.7")},
        {{"mac_addr_ble", "1:2:3:4:5:-1x"}, mac_len("1:2:3:4:5:-1x")},
    };
    for (const auto &[words, err] : rows) {
        std::vector<std::string> args = {"set"};
        args.insert(args.end(), words.begin(), words.end());
        run_result r = expect_run({args, 7, "", err});
        EXPECT_EQ(transfer_count(r), 0u);
    }
    EXPECT_EQ(chips(hs), before);
}

// The strap is looked for only when no core item matches. Choosing the core
// generation lists the I2C devices; finding the chip uses that listing, and so
// does the strap's probe when it comes: one listing per command.
TEST(ItemsLookup, CoreItemCommandsNeverProbeForTheStrap) {
    struct row {
        int core, strap;
        std::vector<std::string> args;
        int status;
        int listings;  // times /sys/bus/i2c/devices itself is opened
    };
    const row rows[] = {
        {2, 2, {"get", "unit_sn"}, 5, 1},
        {2, 2, {"set", "unit_sn", "Z"}, 0, 1},
        {2, 2, {"set", "unit_sn"}, 7, 1},
        {2, 0, {"get", "board_revision"}, 5, 1},
        {2, 1, {"get", "unit_sn"}, 5, 1},
        {1, 1, {"set", "prox_far", "3"}, 0, 1},
        {2, 2, {"get", "strap_sn"}, 5, LISTINGS_FOR_BOTH},
        {2, 2, {"get", "nosuch"}, 7, LISTINGS_FOR_BOTH},
        {2, 2, {"get", ""}, 7, 0},
        {2, 2, {"set", "", "1"}, 7, 0},
    };
    for (const row &c : rows) {
        SCOPED_TRACE(c.args[1]);
        emu_headset hs = headset(c.core, c.strap);
        provision(hs, c.core, c.strap);
        run_result r = run_vellum(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(count_calls(r, "opendir /sys/bus/i2c/devices"), expected_listings(c.listings));
    }
}

// ---------------------------------------------------------------------------
// print_all

TEST(ItemsPrintAll, HeadingsOnStdoutStoppingRulesAndAlwaysStatusZero) {
    const std::string CORE_HEAD = "Core EEPROM Data:\n", STRAP_HEAD = "\nStrap EEPROM Data:\n";
    const std::string no_core = "Failed to find core_eeprom in sysfs - check dts files\n";
    const std::string no_strap = "Failed to find strap_eeprom in sysfs - check dts files\n";
    std::vector<uint8_t> blob(2147, 0);
    blob[0] = 3;
    blob[2] = 'C';
    blob[3] = 'A';
    blob[4] = 'L';
    struct row {
        std::string what;
        std::function<void()> setup;
        std::vector<std::string> args;
        std::string out, err;
        int preads = -1;  // reads of the chips, -1: not checked
    };
    std::vector<row> rows;

    rows.push_back({"no chips at all", [] { headset(0, 0); }, {"print_all"},
                    CORE_HEAD + STRAP_HEAD, no_core + no_strap});
    rows.push_back({"words after print_all are ignored", [] { headset(0, 0); },
                    {"print_all", "unit_sn", "x"}, CORE_HEAD + STRAP_HEAD, no_core + no_strap});
    {
        // Uninitialised regions fail every item and the listing goes on.
        std::string out = CORE_HEAD, err;
        walk(out, err, family(2, 0), {}, {}, [](auto &, auto &r) { return uninit(r); });
        out += STRAP_HEAD;
        walk(out, err, family(0, 2), {}, {}, [](auto &, auto &r) { return uninit(r); });
        // A load that failed is tried again by the next item: one header
        // read for each of the 23 + 11 items.
        rows.push_back({"blank chips", [] { headset(2, 2); }, {"print_all"}, out, err, 34});
    }
    {
        std::string out = CORE_HEAD, err;
        walk(out, err, family(2, 0),
             {{"board_revision", "EVT3"}, {"unit_sn", "SN-0001"},
              {"mac_addr_ble", "0A:0B:0C:0D:0E:0F"}, {"ipd_min", "-5, 0, 5"}, {"prox_noise", "5"}},
             {{"device_config", "device_config set, specify filename to save\n"}});
        out += STRAP_HEAD;
        walk(out, err, family(0, 2), {{"strap_sn", "STRAP-1"}, {"right_audio_resistance", "8"}});
        rows.push_back(
            {"second generation, some items set",
             [blob] {
                 emu_headset hs = headset(2, 2);
                 provision(hs, 2, 2,
                           {{&BOOTLOADER, {.offset = 9, .bytes = text_bytes("EVT3", 32)}},
                            {&CORE, {.offset = 24, .bytes = text_bytes("SN-0001", 14)}},
                            {&CORE, {.offset = 79, .bytes = bytes({10, 11, 12, 13, 14, 15})}},
                            {&CORE, {.offset = 95, .bytes = bytes({0xFB, 0xFF, 0, 0, 5, 0})}},
                            {&CORE, {.offset = 272, .bytes = le16(5)}},
                            {&VRCAL, {.offset = 9, .bytes = blob}},
                            {&STRAP_GEN2, {.offset = 9, .bytes = text_bytes("STRAP-1", 14)}},
                            {&STRAP_GEN2, {.offset = 159, .bytes = le16(8)}}});
             },
             // Each region read once: header and image, vrcal's in two pages.
             {"print_all"}, out, err, 2 + 2 + 3 + 2});
    }
    {
        std::string out = CORE_HEAD, err;
        walk(out, err, family(1, 0), {{"imu_rev", "Q"}, {"midwall_heat_pipe_sn", "MW-9"}},
             {{"prox_noise", "cannot read prox_noise, eeprom version not supported!\n"}});
        out += STRAP_HEAD;
        walk(out, err, family(0, 1),
             {{"strap_sn", "S-77"}, {"left_audio_admittance", "4000000000"}, {"right_audio_temp", "25"}});
        rows.push_back(
            {"first generation, core region at layout 4",
             [] {
                 emu_headset hs = headset(1, 1);
                 provision(hs, 1, 1,
                           {{&BOOTLOADER, {.offset = 75, .bytes = {'Q'}}},
                            {&STRAP_GEN1, {.offset = 9, .bytes = text_bytes("S-77", 14)}},
                            {&STRAP_GEN1, {.offset = 196, .bytes = le32(4000000000u)}},
                            {&STRAP_GEN1, {.offset = 242, .bytes = le16(25)}}});
                 seed(hs, CORE, {{.offset = 240, .bytes = text_bytes("MW-9", 31)}}, 4);
             },
             {"print_all"}, out, err});
    }
    {
        // A chip that is listed but cannot be opened is reported once.
        std::string out = CORE_HEAD + STRAP_HEAD, err = found("bootloader") +
            "Open bootloader EEPROM /sys/bus/i2c/devices/1-0050/eeprom Failed on: 2\n";
        walk(out, err, family(0, 2), {{"strap_sn", "STRAP-2"}});
        rows.push_back({"core chip cannot be opened",
                        [] {
                            emu_headset hs = emu_standard_headset();
                            hs.chips[0].kind = emu_kind::no_eeprom_file;
                            ASSERT_TRUE(mount_headset(hs));
                            seed(hs, STRAP_GEN2, {{.offset = 9, .bytes = text_bytes("STRAP-2", 14)}});
                        },
                        {"print_all"}, out, err});
    }
    {
        std::string out = CORE_HEAD, err;
        walk(out, err, family(2, 0), {});
        out += STRAP_HEAD;
        rows.push_back({"no strap chip",
                        [] {
                            emu_headset hs = headset(2, 0);
                            provision(hs, 2, 0);
                        },
                        {"print_all"}, out, err + no_strap});
    }
    // Without the device directory every lookup fails with a negative
    // status, which does not stop the listing: one line for each generation
    // probe and one for each item of both first-generation tables.
    rows.push_back({"no I2C device directory",
                    [] {
                        emu_headset hs = emu_standard_headset();
                        hs.base_dir = false;
                        ASSERT_TRUE(mount_headset(hs));
                    },
                    {"print_all"}, CORE_HEAD + STRAP_HEAD,
                    repeat("opendir(/sys/bus/i2c/devices) ret: 2\n", 1 + 20 + 1 + 19)});

    for (const row &c : rows) {
        SCOPED_TRACE(c.what);
        c.setup();
        run_result r = expect_run({c.args, 0, c.out, c.err});
        EXPECT_EQ(count_calls(r, "pwrite"), 0u);
        if (c.preads >= 0) {
            EXPECT_EQ(count_calls(r, "pread"), static_cast<size_t>(c.preads));
        }
    }

    // Both streams into one: each heading comes before its table's lines.
    headset(0, 0);
    const run_result merged =
        run_program("/bin/sh", {"-c", "exec \"$0\" print_all 2>&1", VELLUM_COMMAND});
    EXPECT_EQ(merged.status, 0);
    EXPECT_EQ(merged.out, CORE_HEAD + no_core + STRAP_HEAD + no_strap);
}

}  // namespace
