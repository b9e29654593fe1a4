// Item values through get and set: what each kind of value looks like on the
// chip and on the two streams, stored bytes that no setter writes, and what a
// refused value leaves behind (nothing, and no transfer at all).
#include "end_to_end.h"

namespace {

const std::string S13 = "ABCDEFGHIJKLM";                   // unit_sn holds 13 and a zero
const std::string S30 = "0123456789abcdefghijklmnopqrst";  // 31-byte fields hold 30

// A set of the words stores the value in its item (padded with zeros), and
// a get prints it: the label on standard error, then the value, and on one
// stream in that order.
e2e_row stored(int core, int strap, std::vector<std::string> value, const bytes &field_bytes,
               const std::string &shown_value, const std::vector<image_item> &before = {}) {
    const std::string name = value[0];
    const region_fact &r = *item(name, strap).region;
    std::vector<placed> seeds = reset_regions(core, strap);
    seeds.push_back({&r, image_for(r, before)});
    value.insert(value.begin(), "set");
    // The image is written back: only the item, its marker and the checksum
    // may differ from what was there.
    std::vector<image_item> after = before;
    after.push_back(field(name, field_bytes, strap));
    const std::string what = name + " = " + shown_value;
    return e2e_row{what, value, 0, "", found(r)}
        .on(core, strap)
        .holding(seeds)
        .writing({{&r, image_for(r, after)}})
        .followed_by({what + ", read", {"get", name}, 0, shown_value, found(r) + shown(name)})
        .followed_by({what + ", one stream", {"sh", "exec %V get " + name + " 2>&1"}, 0,
                      found(r) + name + ": " + shown_value + "\n"});
}

TEST(ItemValues, EveryScalarKindOnEveryGenerationStoresReadsAndInterleaves) {
    play({
        stored(2, 2, {"board_revision", "EVT3"}, text("EVT3"), "EVT3"),
        stored(2, 2, {"imu_rev", "B"}, text("B"), "B"),
        stored(2, 2, {"unit_sn", S13}, text(S13), S13),
        // A shorter string leaves nothing of the longer one behind it.
        stored(2, 2, {"unit_sn", "XY"}, text("XY"), "XY", {field("unit_sn", S13)}),
        stored(2, 2, {"unit_config", ""}, {}, ""),
        stored(2, 2, {"mac_addr_wifi", "1:2:3:4:5:6"}, {1, 2, 3, 4, 5, 6}, "01:02:03:04:05:06"),
        // White space after a value is accepted: values read from files end
        // in a blank, a carriage return or a newline.
        stored(2, 2, {"mac_addr_ble", "a0:Bc:de:F1:23:45\r"}, {0xA0, 0xBC, 0xDE, 0xF1, 0x23, 0x45},
               "A0:BC:DE:F1:23:45"),
        stored(2, 2, {"mac_addr_ble", " 1:2:3:04:5:f \n"}, {1, 2, 3, 4, 5, 0xF}, "01:02:03:04:05:0F"),
        stored(2, 2, {"prox_near", "65535"}, le16(65535), "65535"),
        stored(2, 2, {"prox_mid", "12\r"}, le16(12), "12"),
        stored(2, 2, {"prox_mid", "+5 \t\v\f"}, le16(5), "5"),
        stored(2, 2, {"prox_far", " +258"}, le16(258), "258"),
        stored(2, 2, {"ipd_min", "-32768", "0", "32767"}, {0x00, 0x80, 0x00, 0x00, 0xFF, 0x7F}, "-32768, 0, 32767"),
        stored(2, 2, {"ipd_max", "1", "-2", "300"}, {0x01, 0x00, 0xFE, 0xFF, 0x2C, 0x01}, "1, -2, 300"),
        stored(2, 2, {"diplexer", "4660"}, le16(0x1234), "4660"),
        stored(2, 2, {"ipd_max", " -1\r", "+2 ", "0003\n"}, {0xFF, 0xFF, 0x02, 0x00, 0x03, 0x00}, "-1, 2, 3"),
        stored(2, 2, {"midwall_heat_pipe_sn", S30}, text(S30), S30),
        stored(2, 2, {"prox_noise", "0"}, le16(0), "0"),
        stored(1, 1, {"board_minor", "m1"}, text("m1"), "m1"),
        stored(1, 1, {"mac_addr_wifi", "de:ad:be:ef:00:01"}, {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01},
               "DE:AD:BE:EF:00:01"),
        stored(1, 2, {"ipd_min", "-1", "-1", "-1"}, bytes(6, 0xFF), "-1, -1, -1"),
        stored(1, 2, {"fan_sn", S30}, text(S30), S30),
        stored(1, 1, {"strap_sn", "S1"}, text("S1"), "S1"),
        stored(2, 1, {"left_audio_admittance", "4294967295"}, le32(4294967295u), "4294967295"),
        stored(2, 1, {"right_audio_temp_coeff", "-1"}, le32(4294967295u), "4294967295"),
        stored(2, 1, {"left_audio_temp_coeff", "305419896"}, le32(0x12345678), "305419896"),
        stored(2, 1, {"right_audio_admittance", "-4294967295 "}, le32(1), "1"),
        stored(2, 1, {"left_audio_admittance", "+7\r"}, le32(7), "7"),
        stored(2, 1, {"left_audio_temp_protect", "80"}, le16(80), "80"),
        stored(2, 1, {"strap_assembly_cm_sn", S30}, text(S30), S30),
        stored(1, 2, {"strap_revision", "1234567"}, text("1234567"), "1234567"),
        stored(2, 2, {"right_audio_resistance", "8"}, le16(8), "8"),
        stored(2, 2, {"audio_module_vendor", "ACOUSTIC-7"}, text("ACOUSTIC-7"), "ACOUSTIC-7"),
    });
}

// Bytes that no setter writes, and items that are not set.
TEST(ItemValues, StoredBytesPrintAsDescribed) {
    const std::vector<placed> seeds = command_line_items();
    const auto get = [&](const std::string &name, int status, const std::string &out,
                         const std::string &err) {
        return e2e_row{"get " + name, {"get", name}, status, out, err}.holding(seeds);
    };
    const std::string core = found("core");
    play({
        get("unit_sn", 0, "ABCDEFGHIJKLMN", core + shown("unit_sn")),
        get("imu_rev", 0, "\x07", found("bootloader") + shown("imu_rev")),
        get("ipd_max", 0, "32767, -32768, 0", core + shown("ipd_max")),
        get("prox_mid", 5, "", core + not_set("prox_mid")),
        get("prox_far", 5, "", core + not_set("prox_far")),
    });
}

// A refused value is refused before the chip is opened: no lookup line, no
// transfer, chips as they were.
TEST(ItemValues, RefusedValuesNeverReachTheChip) {
    const std::string u16 = "\nset uint command requires an item value!\n";
    auto over16 = [](const std::string &w) { return "\nset uint16_t value - " + w + " - would overflow!\n"; };
    auto bad16 = [](const std::string &w) {
        return "\nset uint16_t value - " + w + " - incorrect length!\n";
    };
    auto over32 = [](const std::string &w) { return "\nset uint32_t value - " + w + " - would overflow!\n"; };
    auto bad32 = [](const std::string &w) {
        return "\nset uint32_t value - " + w + " - incorrect length!\n";
    };
    auto mac_len = [](const std::string &w) { return "\nset mac address - " + w + " - incorrect length!\n"; };
    auto ipd = [](const char *axis, const std::string &w, const char *what) {
        return std::string("\nset IPD ") + axis + " value - " + w + " - " + what + "!\n";
    };
    const std::string ipd_count = "\nset IPD XYZ command requires three item values!\n";
    const char *A = "incorrect length", *O = "would overflow";
    const std::vector<placed> seeds = reset_regions(2, 1);
    const auto refused = [&](std::vector<std::string> words, const std::string &err) {
        words.insert(words.begin(), "set");
        return e2e_row{"set " + words[1], std::move(words), 7, "", err}.on(2, 1).holding(seeds).transfers_are({});
    };
    play({
        refused({"unit_sn"}, "\nset string command requires an item value!\n"),
        refused({"unit_sn", "a", "b"}, "\nset string command requires an item value!\n"),
        refused({"unit_sn", "ABCDEFGHIJKLMN"},
                "\nset unit_sn = ABCDEFGHIJKLMN requires string to be less than 14 bytes!\n"),
        refused({"midwall_heat_pipe_sn", S30 + "u"},
                "\nset midwall_heat_pipe_sn = " + S30 + "u requires string to be less than 31 bytes!\n"),
        refused({"imu_rev"}, "\nset char command requires an item value!\n"),
        refused({"imu_rev", "AB"}, "\nset imu_rev = AB requires 1 character!\n"),
        refused({"imu_rev", ""}, "\nset imu_rev =  requires 1 character!\n"),
        refused({"imu_rev", "A", "B"}, "\nset char command requires an item value!\n"),
        refused({"mac_addr_wifi"}, "\nset mac address command requires an item value!\n"),
        refused({"mac_addr_wifi", "1:2:3:4:5:6", "7"}, "\nset mac address command requires an item value!\n"),
        refused({"mac_addr_wifi", "1:2:3"}, mac_len("1:2:3")),
        refused({"mac_addr_wifi", "123:4:5:6:7:8"}, mac_len("123:4:5:6:7:8")),
        refused({"mac_addr_wifi", "1-2-3-4-5-6"}, mac_len("1-2-3-4-5-6")),
        refused({"mac_addr_wifi", "zz:1:2:3:4:5"}, mac_len("zz:1:2:3:4:5")),
        // A pair is one or two hexadecimal digits and nothing else: no sign,
        // no "0x", no blank after a colon (so no pair exceeds 0xFF).
        refused({"mac_addr_wifi", "-1:2:3:4:5:6"}, mac_len("-1:2:3:4:5:6")),
        refused({"mac_addr_ble", "1:2:3:4:5:-1"}, mac_len("1:2:3:4:5:-1")),
        refused({"mac_addr_wifi", "0x:1a:2b:3c:4d:5e"}, mac_len("0x:1a:2b:3c:4d:5e")),
        refused({"mac_addr_wifi", "+1:2:3:4:5:6"}, mac_len("+1:2:3:4:5:6")),
        refused({"mac_addr_wifi", "1:2:3:4:5:-0"}, mac_len("1:2:3:4:5:-0")),
        refused({"mac_addr_wifi", "1a: 2b:3c:4d:5e:6f"}, mac_len("1a: 2b:3c:4d:5e:6f")),
        refused({"prox_near"}, u16),
        refused({"prox_near", "1", "2"}, u16),
        refused({"prox_near", "65536"}, over16("65536")),
        refused({"prox_near", "-1"}, over16("-1")),
        refused({"prox_near", "4294967296"}, over16("4294967296")),
        refused({"prox_near", "4294967297"}, over16("4294967297")),
        refused({"prox_near", "18446744073709551616"}, over16("18446744073709551616")),
        refused({"prox_near", "abc"}, bad16("abc")),
        refused({"prox_near", ""}, bad16("")),
        refused({"prox_near", "-"}, bad16("-")),
        refused({"prox_noise", "x12"}, bad16("x12")),
        refused({"left_audio_admittance"}, u16),
        refused({"left_audio_admittance", "1", "2"}, u16),
        refused({"left_audio_admittance", "4294967296"}, over32("4294967296")),
        refused({"left_audio_admittance", "-4294967296"}, over32("-4294967296")),
        refused({"right_audio_temp_coeff", "99999999999999999999"}, over32("99999999999999999999")),
        refused({"left_audio_temp_coeff", "abc"}, bad32("abc")),
        refused({"left_audio_temp", "65536"}, over16("65536")),
        refused({"ipd_min", "1", "2"}, ipd_count),
        refused({"ipd_min", "1", "2", "3", "4"}, ipd_count),
        refused({"ipd_min", "0", "0", "32768"}, ipd("Z", "32768", O)),
        refused({"ipd_min", "-32769", "0", "0"}, ipd("X", "-32769", O)),
        refused({"ipd_min", "4294967296", "0", "0"}, ipd("X", "4294967296", O)),
        refused({"ipd_max", "0", "4294967296", "0"}, ipd("Y", "4294967296", O)),
        refused({"ipd_max", "0", "y", "0"}, ipd("Y", "y", A)),
        refused({"ipd_max", "x", "y", "z"}, ipd("X", "x", A)),
        refused({"ipd_max", "1", "2", "99999"}, ipd("Z", "99999", O)),
        // A value word is the value and nothing else: text after the number
        // or the sixth pair refuses the word, before any range check.
        refused({"prox_near", "0x10"}, bad16("0x10")),
        refused({"prox_near", "1e3"}, bad16("1e3")),
        refused({"prox_near", "1.9"}, bad16("1.9")),
        refused({"prox_near", "12abc"}, bad16("12abc")),
        refused({"prox_near", "99999abc"}, bad16("99999abc")),
        refused({"prox_near", "-1x"}, bad16("-1x")),
        refused({"prox_near", "5 x"}, bad16("5 x")),
        refused({"prox_near", "5\r\n."}, bad16("5\r\n.")),
        refused({"prox_near", "+"}, bad16("+")),
        refused({"prox_near", " \r"}, bad16(" \r")),
        refused({"prox_near", "+-5"}, bad16("+-5")),
        refused({"prox_mid", "\xEF\xBC\x95"}, bad16("\xEF\xBC\x95")),  // a full-width digit
        refused({"left_audio_admittance", "0x10"}, bad32("0x10")),
        refused({"left_audio_admittance", "1e3"}, bad32("1e3")),
        refused({"left_audio_admittance", "4294967295.0"}, bad32("4294967295.0")),
        refused({"right_audio_temp_coeff", "99999999999abc"}, bad32("99999999999abc")),
        refused({"right_audio_temp_coeff", "7 7"}, bad32("7 7")),
        refused({"ipd_min", "0x7", "0", "0"}, ipd("X", "0x7", A)),
        refused({"ipd_min", "1", "2.5", "3"}, ipd("Y", "2.5", A)),
        refused({"ipd_min", "1", "2", "99999abc"}, ipd("Z", "99999abc", A)),
        refused({"ipd_min", "1", "2", "3e0"}, ipd("Z", "3e0", A)),
        refused({"ipd_min", "-1-", "2", "3"}, ipd("X", "-1-", A)),
        refused({"mac_addr_wifi", "00:11:22:33:44:556"}, mac_len("00:11:22:33:44:556")),
        refused({"mac_addr_wifi", "00:11:22:33:44:55:66"}, mac_len("00:11:22:33:44:55:66")),
        refused({"mac_addr_wifi", "00:11:22:33:44:55:"}, mac_len("00:11:22:33:44:55:")),
        refused({"mac_addr_wifi", "00:11:22:33:44:55 x"}, mac_len("00:11:22:33:44:55 x")),
        refused({"mac_addr_wifi", "00:11:22:33:44:5g"}, mac_len("00:11:22:33:44:5g")),
        refused({"mac_addr_wifi", "1:2:3:4:5:6.7"}, mac_len("1:2:3:4:5:6.7")),
        refused({"mac_addr_ble", "1:2:3:4:5:-1x"}, mac_len("1:2:3:4:5:-1x")),
    });
}

}  // namespace
