// Chip files: `--chip LABEL=FILE` makes a regular file stand for a chip,
// read and written as the chip is, with no sysfs looked at (the rows run
// where there is no I2C bus directory at all, unless they say otherwise).
#include <gtest/gtest.h>

#include "service_fixture.h"

namespace {

class ChipFiles : public Service {};

// A chip file of `size` erased bytes holding the images at their offsets.
bytes chip_file(size_t size, const std::vector<seeded> &images) {
    bytes chip(size, 0xFF);
    for (const seeded &s : images)
        std::copy(s.image.begin(), s.image.end(), chip.begin() + s.region->offset);
    return chip;
}

TEST_F(ChipFiles, StandForTheChipsOfTheirLabels) {
    const bytes core2 = chip_file(8192, {{&CORE, image_for(CORE, {{24, text_bytes("SN-2", 14)}})}});
    const bytes core1 = chip_file(4096, {{&CORE, image_for(CORE, {{24, text_bytes("SN-1", 14)}})}});
    const bytes strap1 = chip_file(4096, {{&STRAP_GEN1, image_for(STRAP_GEN1, {{196, le32(70000)}})}});
    const bytes strap2 = chip_file(4096, {{&STRAP_GEN2, image_for(STRAP_GEN2, {{9, text_bytes("ST", 14)}})}});
    const bytes core2_new =
        chip_file(8192, {{&CORE, image_for(CORE, {{24, text_bytes("NEW", 14)}})}});
    const auto on = [](const std::string &label, std::vector<std::string> words) {
        words.insert(words.begin(), {"--chip", label + "=%D/f"});
        return words;
    };
    const std::string FOUND_F = "Found core EEPROM at: %D/f\n";
    play({
        {"second-generation core", -1, 0, {}, {{"f", core2}}, on("core_v2_eeprom", {"get", "unit_sn"}),
         0, "SN-2", FOUND_F + "unit_sn: \n"},
        {"first-generation core: first-generation tables", -1, 0, {}, {{"f", core1}},
         on("core_eeprom", {"get", "device_config"}), 7, "",
         "\ndevice_config was not found!\n" + hint("get")},
        {"first-generation strap", -1, 0, {}, {{"f", strap1}},
         on("strap_eeprom", {"get", "left_audio_admittance"}), 0, "70000",
         "Found strap EEPROM at: %D/f\nleft_audio_admittance: \n"},
        {"second-generation strap", -1, 0, {}, {{"f", strap2}},
         on("strap_v2_eeprom", {"get", "strap_sn"}), 0, "ST",
         "Found strap EEPROM at: %D/f\nstrap_sn: \n"},
        {"a board with no file has no chip", -1, 0, {}, {{"f", strap2}},
         on("strap_v2_eeprom", {"get", "unit_sn"}), 11, "",
         "Failed to find core_eeprom in sysfs - check dts files\n"},
        {"written as the chip is", -1, 0, {}, {{"f", core2}},
         on("core_v2_eeprom", {"set", "unit_sn", "NEW"}), 0, "", FOUND_F, {}, {{"f", core2_new}}},
        // Not the file's user's to write: read with a shared lock, and a
        // store refused before it writes, as the read-write open was.
        {"a read-only file", -1, 0, {}, {{"f", core2}},
         {"sh", "chmod 755 %D && chmod 444 %D/f && setpriv --reuid=65534 --regid=65534 "
                "--clear-groups %V --chip core_v2_eeprom=%D/f get unit_sn && setpriv "
                "--reuid=65534 --regid=65534 --clear-groups %V --chip core_v2_eeprom=%D/f set "
                "unit_sn NEW"},
         4, "SN-2", FOUND_F + "unit_sn: \n" + FOUND_F + "Open core EEPROM %D/f Failed on: 13\n",
         {}, {{"f", core2}}},
        {"help lists the generations the labels select", -1, 0, {}, {{"f", core1}},
         {"sh", "%V --chip core_eeprom=%D/f help | grep -c -e vrcal -e device_config"}, 1, "0\n",
         ""},
    });
}

TEST_F(ChipFiles, RefusedBeforeAnyCommandRuns) {
    const bytes big(8192, 0), small(4096, 0);
    const auto refused = [&](const char *what, std::vector<std::string> options, int status,
                             const std::string &err) {
        options.push_back("version");
        return chip_row{what, -1, 0, {}, {{"c", big}, {"s", small}}, options, status, "", err};
    };
    const auto no = [](const std::string &option, const std::string &why) {
        return "\n--chip " + option + ": " + why + "\n";
    };
    play({
        refused("a label not in the tables", {"--chip", "core=%D/c"}, 7,
                no("core=%D/c", "no such label (core_eeprom, core_v2_eeprom, strap_eeprom, "
                                "strap_v2_eeprom)")),
        refused("no =", {"--chip", "core_v2_eeprom"}, 7, no("core_v2_eeprom", "expected LABEL=FILE")),
        refused("no file name", {"--chip", "core_v2_eeprom="}, 7, no("core_v2_eeprom=", "no file named")),
        refused("nothing after --chip", {"--chip"}, 7, no("version", "expected LABEL=FILE")),
        refused("two labels for one board", {"--chip", "core_v2_eeprom=%D/c", "--chip", "core_eeprom=%D/s"},
                7, no("core_eeprom=%D/s", "the core board has a file already (core_v2_eeprom)")),
        refused("one label twice", {"--chip", "strap_eeprom=%D/s", "--chip", "strap_eeprom=%D/c"}, 7,
                no("strap_eeprom=%D/c", "strap_eeprom given twice")),
        refused("one file for two labels", {"--chip", "core_v2_eeprom=%D/c", "--chip", "strap_eeprom=%D/c"},
                7, no("strap_eeprom=%D/c", "the file stands for core_v2_eeprom already")),
        refused("a missing file", {"--chip", "core_v2_eeprom=%D/none"}, 4,
                no("core_v2_eeprom=%D/none", "cannot be used, errno 2")),
        refused("not a regular file", {"--chip", "strap_v2_eeprom=%D"}, 4,
                no("strap_v2_eeprom=%D", "not a regular file")),
        refused("too small for its label's regions", {"--chip", "core_v2_eeprom=%D/s"}, 4,
                no("core_v2_eeprom=%D/s", "4096 bytes, core_v2_eeprom needs 8192 bytes")),
    });
}

// A factory builds a unit's images ahead on blank files, dumps each region,
// and the station restores them: the chips end up as apply would leave them.
TEST_F(ChipFiles, ImagesBuiltOnBlankFilesRestoreOntoTheHeadset) {
    std::vector<seeded> done;
    for (const region_spec *r : {&BOOTLOADER, &CORE, &VRCAL, &STRAP_GEN2})
        done.push_back({r, image_for(*r, provisioned(*r))});
    const std::string chips = "--chip core_v2_eeprom=%D/c --chip strap_v2_eeprom=%D/s";
    play({{"reset, apply, dump; restore", 2, 2, {},
           {{"p", text(expand(provision_file("\n")))}, {"cal.bin", CALIBRATION}},
           {"sh", "{ truncate -s 8192 %D/c && truncate -s 4096 %D/s && for r in bootloader core "
                  "vrcal strap; do %V " + chips + " reset $r || exit; done && %V " + chips +
                      " apply %D/p && for r in bootloader core vrcal strap; do %V " + chips +
                      " dump $r %D/$r.img && %V restore $r %D/$r.img || exit; done; } 2>/dev/null"},
           0, "", "", done}});
}

}  // namespace
