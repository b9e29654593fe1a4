// Chip files: `--chip LABEL=FILE` makes a regular file stand for a chip,
// read and written as the chip is, with no sysfs looked at (the rows run
// where there is no I2C bus directory at all, unless they say otherwise).
#include "station_file.h"

namespace {

// A chip file of `size` erased bytes holding the images at their offsets.
bytes chip_file(size_t size, const std::vector<placed> &images) {
    bytes chip(size, 0xFF);
    for (const placed &s : images) std::copy(s.data.begin(), s.data.end(), chip.begin() + s.region->offset);
    return chip;
}

e2e_row on_file(const char *what, const std::string &label, std::vector<std::string> words, const bytes &file,
                int status, const std::string &out, const std::string &err) {
    words.insert(words.begin(), {"--chip", label + "=%D/f"});
    return e2e_row{what, std::move(words), status, out, err}.on(no_bus()).with_files({{"f", file}});
}

TEST(ChipFiles, StandForTheChipsOfTheirLabels) {
    const bytes core2 = chip_file(8192, {{&CORE, image_for(CORE, {field("unit_sn", "SN-2")})}});
    const bytes core1 = chip_file(4096, {{&CORE, image_for(CORE, {field("unit_sn", "SN-1")})}});
    const bytes strap1 = chip_file(
        4096, {{&STRAP_GEN1, image_for(STRAP_GEN1, {field("left_audio_admittance", le32(70000))})}});
    const bytes strap2 = chip_file(4096, {{&STRAP_GEN2, image_for(STRAP_GEN2, {field("strap_sn", "ST")})}});
    const bytes core2_new = chip_file(8192, {{&CORE, image_for(CORE, {field("unit_sn", "NEW")})}});
    const std::string AT_F = "Found core EEPROM at: %D/f\n";
    const std::string STRAP_AT_F = "Found strap EEPROM at: %D/f\n";
    play({
        on_file("second-generation core", "core_v2_eeprom", {"get", "unit_sn"}, core2, 0, "SN-2",
                AT_F + shown("unit_sn")),
        on_file("first-generation core: first-generation tables", "core_eeprom", {"get", "device_config"},
                core1, 7, "", not_found("device_config", "get")),
        on_file("first-generation strap", "strap_eeprom", {"get", "left_audio_admittance"}, strap1, 0,
                "70000", STRAP_AT_F + shown("left_audio_admittance")),
        on_file("second-generation strap", "strap_v2_eeprom", {"get", "strap_sn"}, strap2, 0, "ST",
                STRAP_AT_F + shown("strap_sn")),
        on_file("a board with no file has no chip", "strap_v2_eeprom", {"get", "unit_sn"}, strap2, 11, "",
                label_missing("core_eeprom")),
        on_file("written as the chip is", "core_v2_eeprom", {"set", "unit_sn", "NEW"}, core2, 0, "", AT_F)
            .leaving({{"f", core2_new}}),
        // Not the file's user's to write: read with a shared lock, and a
        // store refused before it writes, as the read-write open was.
        e2e_row{"a read-only file",
                {"sh",
                 "chmod 755 %D && chmod 444 %D/f && setpriv --reuid=65534 --regid=65534 "
                 "--clear-groups %V --chip core_v2_eeprom=%D/f get unit_sn && setpriv "
                 "--reuid=65534 --regid=65534 --clear-groups %V --chip core_v2_eeprom=%D/f set "
                 "unit_sn NEW"},
                4,
                "SN-2",
                AT_F + shown("unit_sn") + AT_F + open_failed("core", "%D/f", 13)}
            .on(no_bus())
            .with_files({{"f", core2}})
            .leaving({{"f", core2}}),
        e2e_row{"help lists the generations the labels select",
                {"sh", "%V --chip core_eeprom=%D/f help | grep -c -e vrcal -e device_config"},
                1,
                "0\n"}
            .on(no_bus())
            .with_files({{"f", core1}}),
    });
}

TEST(ChipFiles, RefusedBeforeAnyCommandRuns) {
    const auto refused = [](const char *what, std::vector<std::string> options, int status,
                            const std::string &option, const std::string &why) {
        options.push_back("version");
        return e2e_row{what, std::move(options), status, "", "\n--chip " + option + ": " + why + "\n"}
            .on(no_bus())
            .with_files({{"c", bytes(8192, 0)}, {"s", bytes(4096, 0)}});
    };
    play({
        refused("a label not in the tables", {"--chip", "core=%D/c"}, 7, "core=%D/c",
                "no such label (core_eeprom, core_v2_eeprom, strap_eeprom, strap_v2_eeprom)"),
        refused("no =", {"--chip", "core_v2_eeprom"}, 7, "core_v2_eeprom", "expected LABEL=FILE"),
        refused("no file name", {"--chip", "core_v2_eeprom="}, 7, "core_v2_eeprom=", "no file named"),
        refused("nothing after --chip", {"--chip"}, 7, "version", "expected LABEL=FILE"),
        refused("two labels for one board", {"--chip", "core_v2_eeprom=%D/c", "--chip", "core_eeprom=%D/s"},
                7, "core_eeprom=%D/s", "the core board has a file already (core_v2_eeprom)"),
        refused("one label twice", {"--chip", "strap_eeprom=%D/s", "--chip", "strap_eeprom=%D/c"}, 7,
                "strap_eeprom=%D/c", "strap_eeprom given twice"),
        refused("one file for two labels", {"--chip", "core_v2_eeprom=%D/c", "--chip", "strap_eeprom=%D/c"},
                7, "strap_eeprom=%D/c", "the file stands for core_v2_eeprom already"),
        refused("a missing file", {"--chip", "core_v2_eeprom=%D/none"}, 4, "core_v2_eeprom=%D/none",
                "cannot be used, errno 2"),
        refused("not a regular file", {"--chip", "strap_v2_eeprom=%D"}, 4, "strap_v2_eeprom=%D",
                "not a regular file"),
        refused("too small for its label's regions", {"--chip", "core_v2_eeprom=%D/s"}, 4,
                "core_v2_eeprom=%D/s", "4096 bytes, core_v2_eeprom needs 8192 bytes"),
    });
}

// A factory builds a unit's images ahead on blank files, dumps each region,
// and the station restores them: the chips end up as apply would leave them.
TEST(ChipFiles, ImagesBuiltOnBlankFilesRestoreOntoTheHeadset) {
    const std::string chips = "--chip core_v2_eeprom=%D/c --chip strap_v2_eeprom=%D/s";
    play({e2e_row{"reset, apply, dump; restore",
                  {"sh",
                   "{ truncate -s 8192 %D/c && truncate -s 4096 %D/s && for r in bootloader core "
                   "vrcal strap; do %V " +
                       chips + " reset $r || exit; done && %V " + chips +
                       " apply %D/p && for r in bootloader core vrcal strap; do %V " + chips +
                       " dump $r %D/$r.img && %V restore $r %D/$r.img || exit; done; } 2>/dev/null"}}
              .with_files({{"p", text(provision_file("\n"))}, {"cal.bin", CALIBRATION}})
              .writing(provisioned_headset())});
}

}  // namespace
