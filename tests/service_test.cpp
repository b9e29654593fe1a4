// The factory and service commands end to end: check, dump, restore, export
// and apply through the real binary. Both chips are compared byte for byte
// after every run: these commands exist so that a unit can be backed up,
// repaired and provisioned without a refused input ever reaching a chip.
#include <gtest/gtest.h>

#include "service_fixture.h"

namespace {
// ---------------------------------------------------------------------------
// check

TEST_F(Service, CheckReportsEveryRegionOnItsOwn) {
    const bytes boot = image_for(BOOTLOADER, provisioned(BOOTLOADER));
    const bytes strap = image_for(STRAP_GEN2, provisioned(STRAP_GEN2));
    const bytes strap1 = image_for(STRAP_GEN1, {{9, text_bytes("S1", 14)}, {196, le32(70000)}});
    bytes corrupt_vrcal = image_for(VRCAL);
    corrupt_vrcal[100] ^= 1;
    const std::vector<seeded> valid = {{&BOOTLOADER, boot}, {&CORE, image_for(CORE)},
                                       {&VRCAL, image_for(VRCAL)}, {&STRAP_GEN2, strap}};
    const std::string VALID_OUT =
        "bootloader: version 3, unlocked, 2 of 3 items set\ncore: version 5, unlocked, 0 of 17 "
        "items set\nvrcal: version 1, unlocked, 0 of 3 items set\nstrap: version 1, unlocked, 2 "
        "of 11 items set\n";
    play({
        {"blank chips", 2, 2, {}, {}, {"check"}, 6,
         "bootloader: failed, status 6\ncore: failed, status 6\nvrcal: failed, status 6\n"
         "strap: failed, status 6\n",
         found("bootloader") + uninit("bootloader") + found("core") + uninit("core") +
             found("vrcal") + uninit("vrcal") + strap_found() + uninit("strap")},
        {"valid, extra words ignored", 2, 2, valid, {}, {"check", "all"}, 0, VALID_OUT, FOUND_ALL},
        {"locked older layout, corrupt", 2, 2,
         {{&BOOTLOADER, boot},
          {&CORE, image_for(CORE, {{24, text_bytes("A", 14)}, {240, text_bytes("M", 31)}}, 4, 0)},
          {&VRCAL, corrupt_vrcal},
          {&STRAP_GEN2, strap}},
         {}, {"check"}, 5,
         "bootloader: version 3, unlocked, 2 of 3 items set\ncore: version 4, locked, 2 of 16 "
         "items set\nvrcal: failed, status 5\nstrap: version 1, unlocked, 2 of 11 items set\n",
         found("bootloader") + found("core") + found("vrcal") + CHECKSUM + strap_found()},
        {"first generation", 1, 1,
         {{&BOOTLOADER, boot}, {&CORE, image_for(CORE)}, {&STRAP_GEN1, strap1}}, {}, {"check"}, 0,
         "bootloader: version 3, unlocked, 2 of 3 items set\ncore: version 5, unlocked, 0 of 17 "
         "items set\nstrap: version 3, unlocked, 2 of 19 items set\n",
         found("bootloader") + found("core") + strap_found()},
        {"strap missing", 2, 0, {valid.begin(), valid.begin() + 3}, {}, {"check"}, 11,
         VALID_OUT.substr(0, VALID_OUT.find("strap")) + "strap: failed, status 11\n",
         found("bootloader") + found("core") + found("vrcal") +
             "Failed to find strap_eeprom in sysfs - check dts files\n"},
        {"no bus directory", -1, 0, {}, {}, {"check"}, 254,
         "bootloader: failed, status -2\ncore: failed, status -2\nstrap: failed, status -2\n",
         NO_BASE + NO_BASE + NO_BASE + NO_BASE + NO_BASE},
        {"standard output fails", 2, 2, valid, {}, {"sh", "%V check >/dev/full"}, 3, "",
         FOUND_ALL + "Write Failed!\n"},
    });
}

// ---------------------------------------------------------------------------
// dump and restore

TEST_F(Service, DumpAndRestoreRoundTripEveryRegionOfBothGenerations) {
    const std::vector<std::pair<int, seeded>> cases = {
        {2, {&BOOTLOADER, image_for(BOOTLOADER, provisioned(BOOTLOADER))}},
        {2, {&CORE, image_for(CORE, provisioned(CORE), 0, 0x00)}},
        {2, {&VRCAL, image_for(VRCAL, provisioned(VRCAL))}},
        {2, {&STRAP_GEN2, image_for(STRAP_GEN2, provisioned(STRAP_GEN2))}},
        {1, {&BOOTLOADER, image_for(BOOTLOADER)}},
        {1, {&CORE, image_for(CORE, {{24, text_bytes("V3", 14)}}, 3)}},
        {1, {&STRAP_GEN1, image_for(STRAP_GEN1, {{196, le32(7)}})}},
    };
    for (const auto &[gen, s] : cases) {
        const std::string name = s.region->name;
        const std::string at = s.region->chip ? strap_found() : found(name);
        const bytes blank(s.image.size(), 0xFF);
        play({
            {"dump", gen, gen, {s}, {}, {"dump", name, "%D/img"}, 0, "",
             at + name + ": %D/img written\n", {}, {{"img", s.image}}},
            {"restore", gen, gen, {{s.region, blank}}, {{"img", s.image}},
             {"restore", name.substr(0, 2), "%D/img"}, 0, "", at + " Restoring " + name + "\n",
             {s}},
        });
    }
}

TEST_F(Service, DumpSavesDamagedRegionsAndRestoreRefusesBadImages) {
    const bytes core = image_for(CORE, provisioned(CORE));
    bytes corrupt = core;
    corrupt[30] ^= 1;
    const bytes foreign = image_for(VRCAL, {}, 0, 0xFF);
    const bytes erased(277, 0xFF);
    bytes too_new = image_for(CORE, {}, 5);
    too_new[4] = 6;
    reseal(too_new);
    bytes longer = core;
    longer.push_back(0);
    bytes padded_v4 = image_for(CORE, {}, 4);
    padded_v4.resize(277, 0xFF);
    const std::string FC = found("core");
    const auto refused = [&](const char *what, const bytes &file, const std::string &err,
                             int status) {
        return chip_row{what, 2, 2, {{&CORE, image_for(CORE)}}, {{"f", file}},
                        {"restore", "core", "%D/f"}, status, "", err};
    };
    const std::string INVALID = "%D/f is not a valid core image\n";
    play({
        {"dump blank", 2, 2, {}, {}, {"dump", "core", "%D/f"}, 0, "", FC + "core: %D/f written\n",
         {}, {{"f", erased}}},
        {"dump corrupt at its layout's size", 2, 2, {{&CORE, corrupt}}, {}, {"dump", "c", "%D/f"},
         0, "", FC + "core: %D/f written\n", {}, {{"f", corrupt}}},
        {"dump foreign: whole buffer", 2, 2, {{&CORE, foreign}}, {}, {"dump", "core", "%D/f"}, 0,
         "", FC + "core: %D/f written\n", {}, {{"f", bytes(foreign.begin(), foreign.begin() + 277)}}},
        {"dump, device read fails", 2, 2, {{&CORE, core}}, {}, {"dump", "core", "%D/f"}, 2, "",
         FC + "Read Data Failed on errno: 5\n", {}, {{"f", std::nullopt}},
         {"EMU_EEPROM_FAIL_READ=2"}},
        {"dump into a missing directory", 2, 2, {{&CORE, core}}, {}, {"dump", "core", "%D/x/f"},
         7, "", FC + "\nFailed to create file %D/x/f for writing on error: 2\n"},
        {"dump without a file", 2, 2, {}, {}, {"dump", "core"}, 7, "",
         "\ndump command requires a region and a file name!\n" + hint("dump")},
        {"restore with three words", 2, 2, {}, {}, {"restore", "core", "a", "b"}, 7, "",
         "\nrestore command requires a region and a file name!\n" + hint("restore")},
        {"dump an unknown region", 2, 2, {}, {}, {"dump", "cores", "%D/f"}, 7, "",
         "\ncores was not found!\n" + hint("dump")},
        {"dump the empty word", 2, 2, {}, {}, {"dump", "", "%D/f"}, 7, "",
         "\n was not found!\n" + hint("dump")},
        refused("wrong region", image_for(BOOTLOADER), INVALID, 5),
        refused("bad checksum", corrupt, INVALID, 5),
        refused("one byte more than the layout", longer, "\nFile Size too large 278 > 277\n", 7),
        refused("an older layout's image padded", padded_v4, INVALID, 5),
        refused("unknown version", too_new, INVALID, 5),
        refused("uninitialised", erased, INVALID, 5),
        refused("empty", {}, INVALID, 5),
        {"too large as a stream", 2, 2, {}, {{"f", longer}},
         {"sh", "cat %D/f | %V restore core /dev/stdin"}, 7, "",
         "\nFile Size too large 278 > 277\n"},
        {"missing file", 2, 2, {}, {}, {"restore", "core", "%D/none"}, 7, "",
         "\nFailed to open file %D/none for reading on error: 2\n"},
        {"restore over a locked region", 2, 2, {{&CORE, image_for(CORE, {}, 0, 0)}}, {{"f", core}},
         {"restore", "core", "%D/f"}, 0, "", FC + " Restoring core\n", {{&CORE, core}}},
    });
}

// ---------------------------------------------------------------------------
// export

// Values as jq gives them back: strings as their code points.
const char *const JQ_PROGRAM =
    "[.vellum, .regions, (.items | to_entries | map([.key, (.value | if type == \"string\" "
    "then explode else . end)]))]";

std::string code_points(const bytes &b) {
    std::string out = "[";
    for (size_t i = 0; i < b.size(); i++) {
        if (i) out += ',';
        out += std::to_string(b[i]);
    }
    return out + "]";
}

TEST_F(Service, ExportPrintsOneLineOfJson) {
    // The exact text, escapes included.
    const std::string odd = "A\"\\\x01\x1f\x7f\xff \xc3\xa9";
    play({{"some regions fail", 2, 0,
           {{&BOOTLOADER, image_for(BOOTLOADER, {{9, text_bytes(odd, 32)}})}},
           {}, {"export"}, 6,
           std::string("{\"vellum\": \"") + VELLUM_VERSION +
               "\", \"regions\": {\"bootloader\": {\"version\": 3, \"locked\": false}, \"core\": "
               "{\"status\": 6}, \"vrcal\": {\"status\": 6}, \"strap\": {\"status\": 11}}, "
               "\"items\": {\"board_revision\": \"A\\\"\\\\\\u0001\\u001F\\u007F\\u00FF "
               "\\u00C3\\u00A9\", \"board_minor\": null, \"imu_rev\": null}}\n",
           found("bootloader") + found("core") + uninit("core") + found("vrcal") + uninit("vrcal") +
               "Failed to find strap_eeprom in sysfs - check dts files\n"},
          {"standard output fails", 2, 0, {}, {}, {"sh", "%V export x >/dev/full"}, 3, "",
           found("bootloader") + uninit("bootloader") + found("core") + uninit("core") +
               found("vrcal") + uninit("vrcal") +
               "Failed to find strap_eeprom in sysfs - check dts files\nWrite Failed!\n"}});
}

TEST_F(Service, ExportParsesBackToEveryStoredValue) {
    // Every byte value from 1 to 255 in string fields, full fields unended.
    const struct {
        std::string name;
        const region_spec *region;
        uint16_t offset, length;
    } strings[] = {
        {"board_revision", &BOOTLOADER, 9, 32}, {"board_minor", &BOOTLOADER, 42, 32},
        {"unit_config", &CORE, 39, 32},         {"core_cm_sn", &CORE, 109, 31},
        {"core_assembly_cm_sn", &CORE, 141, 31}, {"heat_pipe_sn", &CORE, 173, 31},
        {"fan_sn", &CORE, 205, 31},             {"midwall_heat_pipe_sn", &CORE, 240, 31},
        {"strap_revision", &STRAP_GEN1, 24, 32}};
    std::map<std::string, std::string> want;  // item -> jq's rendering
    std::map<const region_spec *, std::vector<image_item>> items;
    int next = 1;
    for (const auto &[name, r, offset, length] : strings) {
        bytes value;
        while (value.size() < length && next <= 255) value.push_back(static_cast<uint8_t>(next++));
        bytes field = value;
        field.resize(length, 0);
        items[r].push_back({offset, field});
        want[name] = code_points(value);
    }
    EXPECT_EQ(next, 256);
    const bytes blob = pattern(1000);
    items[&CORE].push_back({72, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}});
    items[&CORE].push_back({86, le16(65535)});
    items[&CORE].push_back({95, ipd(-32768, 0, 32767)});
    items[&BOOTLOADER].push_back({75, {'Z'}});
    bytes illegal = blob_field({}, 3067);  // xrservice: one byte more than the field holds
    illegal[0] = 3066 & 0xFF;
    illegal[1] = 3066 >> 8;
    items[&VRCAL] = {{9, blob_field(blob, 2147)}, {2157, illegal}};
    items[&STRAP_GEN1].push_back({196, le32(4294967295u)});
    want["mac_addr_wifi"] = code_points(text("00:1A:2B:3C:4D:5E"));
    want["prox_near"] = "65535";
    want["ipd_min"] = "[-32768,0,32767]";
    want["imu_rev"] = code_points(text("Z"));
    want["left_audio_admittance"] = "4294967295";
    write_file(dir_ + "/blob", blob);
    const run_result b64 = run_program("/usr/bin/base64", {"-w0", dir_ + "/blob"});
    want["device_config"] = code_points(text(b64.out));

    std::string expected = std::string("[\"") + VELLUM_VERSION +
                           "\",{\"bootloader\":{\"version\":3,\"locked\":false},\"core\":{\"version\":"
                           "4,\"locked\":true},\"vrcal\":{\"version\":1,\"locked\":false},\"strap\":"
                           "{\"version\":3,\"locked\":false}},[";
    std::vector<std::string> names = CORE_ITEMS;
    names.insert(names.end(), BLOB_ITEMS.begin(), BLOB_ITEMS.end());
    names.insert(names.end(), STRAP_ITEMS_GEN1.begin(), STRAP_ITEMS_GEN1.end());
    bool first = true;
    for (const std::string &n : names) {
        if (n == "prox_noise" || n == "xrservice") continue;  // not in layout 4; illegal
        expected += first ? "[\"" : ",[\"";
        expected += n + "\"," + (want.count(n) ? want[n] : "null") + "]";
        first = false;
    }
    expected += "]]\n";

    emu_headset hs = headset(2, 1);
    write_chip(hs.chips[0], 0, image_for(BOOTLOADER, items[&BOOTLOADER]));
    write_chip(hs.chips[0], CORE.offset, image_for(CORE, items[&CORE], 4, 0x00));
    write_chip(hs.chips[0], VRCAL.offset, image_for(VRCAL, items[&VRCAL]));
    write_chip(hs.chips[1], 0, image_for(STRAP_GEN1, items[&STRAP_GEN1]));
    const run_result r = run_vellum({"export"});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, FOUND_ALL);
    write_file(dir_ + "/export.json", text(r.out));
    const run_result parsed = run_program("/usr/bin/jq", {"-c", JQ_PROGRAM, dir_ + "/export.json"});
    EXPECT_EQ(parsed.status, 0) << parsed.err;
    EXPECT_EQ(parsed.out, expected);
}

// ---------------------------------------------------------------------------
// apply

TEST_F(Service, ApplyStoresEachRegionOnceOrNothingAtAll) {
    const std::vector<seeded> reset = {{&BOOTLOADER, image_for(BOOTLOADER)},
                                       {&CORE, image_for(CORE)},
                                       {&VRCAL, image_for(VRCAL)},
                                       {&STRAP_GEN2, image_for(STRAP_GEN2)}};
    std::vector<seeded> done;
    for (const seeded &s : reset)
        done.push_back({s.region, image_for(*s.region, provisioned(*s.region))});
    const std::string APPLIED = " Applying 2 items to bootloader\n Applying 5 items to core\n"
                                " Applying 1 items to vrcal\n Applying 2 items to strap\n";
    const std::string P = provision_file("\n");
    const std::string N = line_after(P);
    const auto with_file = [&](const std::string &content) {
        return files{{"p", text(expand(content))}, {"cal.bin", CALIBRATION}};
    };
    const auto refused = [&](const char *what, const std::string &content, const std::string &err,
                             int status = 7, std::vector<seeded> seeds = {}) {
        if (seeds.empty()) seeds = reset;
        return chip_row{what, 2, 2, seeds, with_file(content), {"apply", "%D/p"}, status, "", err};
    };
    std::vector<seeded> locked = reset, old_layout = reset, blank_strap = reset;
    locked[1].image = image_for(CORE, {}, 0, 0x00);
    old_layout[1].image = image_for(CORE, {}, 4);
    blank_strap.pop_back();
    const std::string longest(4095 - 12, 'x');
    play({
        {"provisioning file, CRLF line ends", 2, 2, reset, with_file(provision_file("\r\n")),
         {"apply", "%D/p"}, 0, "", FOUND_ALL + APPLIED, done},
        {"standard input", 2, 2, reset, with_file(""), {"apply", "-"}, 0, "", FOUND_ALL + APPLIED,
         done, {}, {}, P},
        {"comments and blank lines only", 2, 2, reset, with_file("# nothing\n\n \t\r\n"),
         {"apply", "%D/p"}, 0, "", ""},
        refused("a bad value last", P + "prox_far 70000\n",
                "line " + N + ": prox_far\n\nset uint16_t value - 70000 - would overflow!\n"),
        refused("an unknown name first", "unit_serial X\n" + P, "line 1: unit_serial was not found!\n"),
        refused("an abbreviation", P + "unit_s X\n", "line " + N + ": unit_s was not found!\n"),
        refused("a word with more than a number", P + "prox_far 0x10\n",
                "line " + N + ": prox_far\n\nset uint16_t value - 0x10 - incorrect length!\n"),
        refused("an empty name", "\"\" X\n", "line 1:  was not found!\n"),
        refused("an item given twice", P + "prox_near 5\n", "line " + N + ": prox_near given twice\n"),
        refused("an unterminated quote", "board_minor \"DVT\n" + P, "line 1: unterminated quote\n"),
        refused("a line too long", "unit_config " + longest + "x\n", "line 1: too long\n"),
        refused("the longest line", "unit_config " + longest + "\n",
                "line 1: unit_config\n\nset unit_config = " + longest +
                    " requires string to be less than 32 bytes!\n"),
        refused("a value word missing", P + "mpcba_sn # none\n",
                "line " + N + ": mpcba_sn\n\nset string command requires an item value!\n"),
        refused("a blob file missing", replaced(P, "cal.bin", "none"),
                "line " + line_after(P.substr(0, P.find("device_config"))) +
                    ": device_config\n\nFailed to open file %D/none for reading on error: 2\n"),
        refused("a locked region", P, FOUND_ALL + "cannot write unit_sn, eeprom locked!\n", 5, locked),
        refused("an item its layout lacks", P + "prox_noise 7\n",
                FOUND_ALL + "cannot write prox_noise, eeprom version not supported!\n", 5, old_layout),
        refused("an uninitialised region", P, FOUND_ALL + uninit("strap"), 6, blank_strap),
        {"the second store fails", 2, 2, reset, with_file(P), {"apply", "%D/p"}, 3, "",
         FOUND_ALL + " Applying 2 items to bootloader\n Applying 5 items to core\n"
                     "EEPROM write failed on errno: 5\n bootloader written\n",
         // The bootloader store: guard, two runs (its items lie in pages 0-1
         // and 2), checksum; the fifth write is the core's guard.
         {done[0]}, {}, {"EMU_EEPROM_FAIL_WRITE=5"}},
        {"no file name", 2, 2, {}, {}, {"apply"}, 7, "",
         "\napply command requires a file name!\n" + hint("apply")},
        {"a missing file", 2, 2, {}, {}, {"apply", "%D/none"}, 7, "",
         "\nFailed to open file %D/none for reading on error: 2\n"},
    });
}

}  // namespace
