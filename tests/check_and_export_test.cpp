// The reports of a unit's state: check (one line per region) and export
// (everything as one line of JSON), each region on its own, failures
// reported without stopping, standard output checked.
#include <map>

#include "station_file.h"

namespace {

const std::string NO_STRAP = label_missing("strap_eeprom");

TEST(CheckAndExport, CheckReportsEveryRegionOnItsOwn) {
    const bytes boot = provisioned(BOOTLOADER), strap = provisioned(STRAP_GEN2);
    bytes corrupt_vrcal = image_for(VRCAL);
    corrupt_vrcal[100] ^= 1;
    const std::vector<placed> valid = {
        {&BOOTLOADER, boot}, {&CORE, image_for(CORE)}, {&VRCAL, image_for(VRCAL)}, {&STRAP_GEN2, strap}};
    const std::string VALID_OUT =
        "bootloader: version 3, unlocked, 2 of 3 items set\ncore: version 5, unlocked, 0 of 17 "
        "items set\nvrcal: version 1, unlocked, 0 of 3 items set\nstrap: version 1, unlocked, 2 "
        "of 11 items set\n";
    play({
        e2e_row{"blank chips",
                {"check"},
                6,
                "bootloader: failed, status 6\ncore: failed, status 6\nvrcal: failed, status 6\n"
                "strap: failed, status 6\n",
                found("bootloader") + uninit("bootloader") + found("core") + uninit("core") + found("vrcal") +
                    uninit("vrcal") + FOUND_STRAP + uninit("strap")},
        e2e_row{"valid, extra words ignored", {"check", "all"}, 0, VALID_OUT, FOUND_ALL}.holding(valid),
        e2e_row{"locked older layout, corrupt",
                {"check"},
                5,
                "bootloader: version 3, unlocked, 2 of 3 items set\ncore: version 4, locked, 2 of 16 "
                "items set\nvrcal: failed, status 5\nstrap: version 1, unlocked, 2 of 11 items set\n",
                found("bootloader") + found("core") + found("vrcal") + CHECKSUM + FOUND_STRAP}
            .holding(
                {{&BOOTLOADER, boot},
                 {&CORE, image_for(CORE, {field("unit_sn", "A"), field("midwall_heat_pipe_sn", "M")}, 4, 0)},
                 {&VRCAL, corrupt_vrcal},
                 {&STRAP_GEN2, strap}}),
        e2e_row{"first generation",
                {"check"},
                0,
                "bootloader: version 3, unlocked, 2 of 3 items set\ncore: version 5, unlocked, 0 of 17 "
                "items set\nstrap: version 3, unlocked, 2 of 19 items set\n",
                found("bootloader") + found("core") + FOUND_STRAP}
            .on(1, 1)
            .holding({{&BOOTLOADER, boot},
                      {&CORE, image_for(CORE)},
                      {&STRAP_GEN1, image_for(STRAP_GEN1, {field("strap_sn", "S1"),
                                                           field("left_audio_admittance", le32(70000))})}}),
        e2e_row{"strap missing",
                {"check"},
                11,
                VALID_OUT.substr(0, VALID_OUT.find("strap")) + "strap: failed, status 11\n",
                found("bootloader") + found("core") + found("vrcal") + NO_STRAP}
            .on(2, 0)
            .holding({valid.begin(), valid.begin() + 3}),
        e2e_row{"no bus directory",
                {"check"},
                254,
                "bootloader: failed, status -2\ncore: failed, status -2\nstrap: failed, status -2\n",
                repeat(NO_SYSFS, 5)}
            .on(no_bus()),
        e2e_row{"standard output fails", {"sh", "%V check >/dev/full"}, 3, "", FOUND_ALL + WRITE_FAILED}
            .holding(valid),
    });
}

TEST(CheckAndExport, ExportPrintsOneLineOfJson) {
    // The exact text, escapes included.
    const std::string odd = "A\"\\\x01\x1f\x7f\xff \xc3\xa9";
    const std::string uninitialised = found("bootloader") + uninit("bootloader") + found("core") +
                                      uninit("core") + found("vrcal") + uninit("vrcal") + NO_STRAP;
    play({
        e2e_row{"some regions fail",
                {"export"},
                6,
                golden("export-some-regions-fail.json"),
                found("bootloader") + found("core") + uninit("core") + found("vrcal") + uninit("vrcal") +
                    NO_STRAP}
            .on(2, 0)
            .holding({{&BOOTLOADER, image_for(BOOTLOADER, {field("board_revision", odd)})}}),
        e2e_row{
            "standard output fails", {"sh", "%V export x >/dev/full"}, 3, "", uninitialised + WRITE_FAILED}
            .on(2, 0),
    });
}

// Values as jq gives them back: strings as their code points.
const char *const JQ_PROGRAM =
    "[.vellum, .regions, (.items | to_entries | map([.key, (.value | if type == \"string\" "
    "then explode else . end)]))]";

std::string code_points(const bytes &b) {
    std::string out = "[";
    for (size_t i = 0; i < b.size(); i++) out += (i ? "," : "") + std::to_string(b[i]);
    return out + "]";
}

TEST(CheckAndExport, ExportParsesBackToEveryStoredValue) {
    // Every byte value from 1 to 255 in string fields, full fields unended.
    const std::vector<std::string> strings = {"board_revision", "board_minor",          "unit_config",
                                              "core_cm_sn",     "core_assembly_cm_sn",  "heat_pipe_sn",
                                              "fan_sn",         "midwall_heat_pipe_sn", "strap_revision"};
    std::map<std::string, std::string> want;  // item -> jq's rendering
    std::map<const region_fact *, std::vector<image_item>> items;
    int next = 1;
    for (const std::string &name : strings) {
        const item_fact &f = item(name, 1);
        bytes value;
        while (value.size() < f.length && next <= 255) value.push_back(static_cast<uint8_t>(next++));
        items[f.region].push_back(field(name, value, 1));
        want[name] = code_points(value);
    }
    EXPECT_EQ(next, 256);
    const bytes cal = pattern(1000);
    items[&CORE].push_back(field("mac_addr_wifi", bytes{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    items[&CORE].push_back(field("prox_near", le16(65535)));
    items[&CORE].push_back(field("ipd_min", ipd(-32768, 0, 32767)));
    items[&BOOTLOADER].push_back(field("imu_rev", "Z"));
    // xrservice: one byte more than the field holds.
    items[&VRCAL] = {blob("device_config", cal), field("xrservice", le16(3066))};
    items[&STRAP_GEN1].push_back(field("left_audio_admittance", le32(4294967295u)));
    want["mac_addr_wifi"] = code_points(text("00:1A:2B:3C:4D:5E"));
    want["prox_near"] = "65535";
    want["ipd_min"] = "[-32768,0,32767]";
    want["imu_rev"] = code_points(text("Z"));
    want["left_audio_admittance"] = "4294967295";
    char dir[] = "/tmp/vellum-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    write_file(std::string(dir) + "/blob", cal);
    const run_result b64 = run_program("/usr/bin/base64", {"-w0", std::string(dir) + "/blob"});
    want["device_config"] = code_points(text(b64.out));

    std::string expected = std::string("[\"") + VELLUM_VERSION +
                           "\",{\"bootloader\":{\"version\":3,\"locked\":false},\"core\":{\"version\":"
                           "4,\"locked\":true},\"vrcal\":{\"version\":1,\"locked\":false},\"strap\":"
                           "{\"version\":3,\"locked\":false}},[";
    bool first = true;
    for (const std::string &n : item_names(joined(CORE_GEN2.items, STRAP_GEN1_ITEMS))) {
        if (n == "prox_noise" || n == "xrservice") continue;  // not in layout 4; illegal
        expected += (first ? "[\"" : ",[\"") + n + "\"," + (want.count(n) ? want[n] : "null") + "]";
        first = false;
    }
    expected += "]]\n";

    emu_headset hs = headset(2, 1);
    seed(hs, BOOTLOADER, items[&BOOTLOADER]);
    seed(hs, CORE, items[&CORE], 4, 0x00);
    seed(hs, VRCAL, items[&VRCAL]);
    seed(hs, STRAP_GEN1, items[&STRAP_GEN1]);
    const run_result r = run_vellum({"export"});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, found("bootloader") + found("core") + found("vrcal") + FOUND_STRAP);
    write_file(std::string(dir) + "/export.json", text(r.out));
    const run_result parsed =
        run_program("/usr/bin/jq", {"-c", JQ_PROGRAM, std::string(dir) + "/export.json"});
    EXPECT_EQ(parsed.status, 0) << parsed.err;
    EXPECT_EQ(parsed.out, expected);
    std::filesystem::remove_all(dir);
}

}  // namespace
