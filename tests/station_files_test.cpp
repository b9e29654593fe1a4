// Station files: apply stores each region once or nothing at all; apply
// --dry-run checks the same and writes nothing; verify compares a locked
// unit with its file, item by item, by what get prints.
#include "station_file.h"

namespace {

const std::string P = provision_file("\n");
const std::string APPLIED =
    applying(2, "bootloader") + applying(5, "core") + applying(1, "vrcal") + applying(2, "strap");

files station(const std::string &content) { return {{"p", text(content)}, {"cal.bin", CALIBRATION}}; }

std::vector<placed> reset_headset() { return reset_regions(2, 2); }

TEST(StationFiles, ApplyStoresEachRegionOnceOrNothingAtAll) {
    const std::string N = line_after(P);
    const auto refused = [&](const char *what, const std::string &content, const std::string &err,
                             int status = 7, std::vector<placed> seeds = reset_headset()) {
        return e2e_row{what, {"apply", "%D/p"}, status, "", err}
            .holding(std::move(seeds))
            .with_files(station(content));
    };
    std::vector<placed> locked = reset_headset(), old_layout = reset_headset(), blank_strap = reset_headset();
    locked[1].data = image_for(CORE, {}, 0, 0x00);
    old_layout[1].data = image_for(CORE, {}, 4);
    blank_strap.pop_back();
    const std::string longest(4095 - 12, 'x');
    const auto bad_value = [&](const std::string &line, const std::string &why) {
        return "line " + N + ": " + line + "\n\n" + why;
    };
    play({
        e2e_row{"provisioning file, CRLF line ends", {"apply", "%D/p"}, 0, "", FOUND_ALL + APPLIED}
            .holding(reset_headset())
            .with_files(station(provision_file("\r\n")))
            .writing(provisioned_headset()),
        e2e_row{"standard input", {"apply", "-"}, 0, "", FOUND_ALL + APPLIED}
            .holding(reset_headset())
            .with_files(station(""))
            .reading(P)
            .writing(provisioned_headset()),
        e2e_row{"comments and blank lines only", {"apply", "%D/p"}, 0, "", ""}
            .holding(reset_headset())
            .with_files(station("# nothing\n\n \t\r\n")),
        refused("a bad value last", P + "prox_far 70000\n",
                bad_value("prox_far", "set uint16_t value - 70000 - would overflow!\n")),
        refused("an unknown name first", "unit_serial X\n" + P, "line 1: unit_serial was not found!\n"),
        refused("an abbreviation", P + "unit_s X\n", "line " + N + ": unit_s was not found!\n"),
        refused("a word with more than a number", P + "prox_far 0x10\n",
                bad_value("prox_far", "set uint16_t value - 0x10 - incorrect length!\n")),
        refused("an empty name", "\"\" X\n", "line 1:  was not found!\n"),
        refused("an item given twice", P + "prox_near 5\n", "line " + N + ": prox_near given twice\n"),
        refused("an unterminated quote", "board_minor \"DVT\n" + P, "line 1: unterminated quote\n"),
        refused("a line too long", "unit_config " + longest + "x\n", "line 1: too long\n"),
        refused("the longest line", "unit_config " + longest + "\n",
                "line 1: unit_config\n\nset unit_config = " + longest +
                    " requires string to be less than 32 bytes!\n"),
        refused("a value word missing", P + "mpcba_sn # none\n",
                bad_value("mpcba_sn", "set string command requires an item value!\n")),
        refused("a blob file missing", replaced(P, "cal.bin", "none"),
                "line " + line_after(P.substr(0, P.find("device_config"))) + ": device_config\n" +
                    cannot_open("%D/none", 2)),
        refused("a locked region", P, FOUND_ALL + ::locked("unit_sn"), 5, locked),
        refused("an item its layout lacks", P + "prox_noise 7\n",
                FOUND_ALL + not_in_layout("write", "prox_noise"), 5, old_layout),
        refused("an uninitialised region", P, FOUND_ALL + uninit("strap"), 6, blank_strap),
        // The bootloader store: guard, two runs (its items lie in pages 0-1
        // and 2), checksum; the fifth write is the core's guard.
        e2e_row{"the second store fails",
                {"apply", "%D/p"},
                3,
                "",
                FOUND_ALL + applying(2, "bootloader") + applying(5, "core") + WRITE_ERRNO +
                    "5\n bootloader written\n"}
            .holding(reset_headset())
            .with_files(station(P))
            .under({"EMU_EEPROM_FAIL_WRITE=5"})
            .writing({provisioned_headset()[0]}),
        e2e_row{"no file name", {"apply"}, 7, "", needs("apply", "a file name")},
        e2e_row{"a missing file", {"apply", "%D/none"}, 7, "", cannot_open("%D/none", 2)},
    });
}

TEST(StationFiles, DryRunChecksLikeApplyAndWritesNothing) {
    std::vector<placed> locked = reset_headset();
    locked[1].data = image_for(CORE, {}, 0, 0x00);
    const auto dry = [&](const char *what, std::vector<std::string> args, int status, const std::string &err,
                         std::vector<placed> seeds = reset_headset()) {
        return e2e_row{what, std::move(args), status, "", err}
            .holding(std::move(seeds))
            .with_files(station(P));
    };
    play({
        dry("would succeed", {"apply", "--dry-run", "%D/p"}, 0,
            FOUND_ALL + applying(2, "bootloader", true) + applying(5, "core", true) +
                applying(1, "vrcal", true) + applying(2, "strap", true)),
        dry("would be refused: a locked region", {"apply", "--dry-run", "%D/p"}, 5,
            FOUND_ALL + ::locked("unit_sn"), locked),
        dry("another word before the file", {"apply", "--dry", "%D/p"}, 7, needs("apply", "a file name")),
        dry("the option alone", {"apply", "--dry-run"}, 7, needs("apply", "a file name")),
    });
}

TEST(StationFiles, VerifyComparesEveryListedItemByWhatGetPrints) {
    const std::vector<placed> locked = provisioned_headset(0x00);
    const auto verify = [&](const char *what, const std::string &content, int status, const std::string &out,
                            const std::string &err = FOUND_ALL, std::vector<placed> seeds = {}) {
        return e2e_row{what, {"verify", "%D/p"}, status, out, err}
            .holding(seeds.empty() ? locked : seeds)
            .with_files(station(content));
    };
    bytes other_cal = CALIBRATION;
    other_cal[1000] ^= 0x40;
    // A unit whose core region is at layout 4 and whose items are unset.
    std::vector<placed> older = locked;
    older[1].data = image_for(CORE, {}, 4);
    play({
        verify("a provisioned, locked unit", P, 0, ""),
        e2e_row{"standard input", {"verify", "-"}, 0, "", FOUND_ALL}
            .holding(locked)
            .with_files(station(""))
            .reading(P),
        verify("every kind differs",
               "board_revision \"EVT 4\"\nimu_rev C\nmac_addr_wifi 00:1a:2b:3c:4d:5f\n"
               "prox_near 1201\nipd_min -3200 150 1\nstrap_sn S0000043\n",
               1,
               "line 1: board_revision: stored EVT 3, file EVT 4\n"
               "line 2: imu_rev: stored B, file C\n"
               "line 3: mac_addr_wifi: stored 00:1A:2B:3C:4D:5E, file 00:1A:2B:3C:4D:5F\n"
               "line 4: prox_near: stored 1200, file 1201\n"
               "line 5: ipd_min: stored -3200, 150, 0, file -3200, 150, 1\n"
               "line 6: strap_sn: stored S0000042, file S0000043\n",
               found("bootloader") + found("core") + FOUND_STRAP),
        verify("items not set", "mpcba_sn M1\nprox_mid 7\nxrservice %D/cal.bin\n", 1,
               "line 1: mpcba_sn: stored not set, file M1\nline 2: prox_mid: stored not set, file 7\n"
               "line 3: xrservice: stored not set, file 1500 bytes\n",
               found("core") + found("vrcal")),
        verify("an item the stored layout lacks", "unit_sn X\nprox_noise 3\n", 1,
               "line 1: unit_sn: stored not set, file X\nline 2: prox_noise: not in layout 4, file 3\n",
               found("core"), older),
        e2e_row{"a blob of another length",
                {"verify", "%D/p"},
                1,
                "line 1: device_config: stored 1500 bytes, file 1499 bytes\n",
                found("vrcal")}
            .holding(locked)
            .with_files({{"p", text("device_config %D/c\n")},
                         {"c", bytes(CALIBRATION.begin(), CALIBRATION.end() - 1)}}),
        e2e_row{"a blob of other bytes",
                {"verify", "%D/p"},
                1,
                "line 1: device_config: stored 1500 bytes, file 1500 bytes, differs at byte 1001\n",
                found("vrcal")}
            .holding(locked)
            .with_files({{"p", text("device_config %D/c\n")}, {"c", other_cal}}),
        // Refused as apply refuses, before any chip is looked at.
        verify("an unknown name", "unit_serial X\n", 7, "", "line 1: unit_serial was not found!\n"),
        verify("a bad value", "prox_far 70000\n", 7, "",
               "line 1: prox_far\n\nset uint16_t value - 70000 - would overflow!\n"),
        verify("a region that does not load", "strap_sn S\n", 6, "", FOUND_STRAP + uninit("strap"),
               {locked[0], locked[1], locked[2]}),
        e2e_row{"no file name", {"verify"}, 7, "", needs("verify", "a file name")},
        e2e_row{
            "standard output fails", {"sh", "%V verify %D/p >/dev/full"}, 3, "", found("core") + WRITE_FAILED}
            .holding(locked)
            .with_files(station("prox_near 1\n")),
    });
}

}  // namespace
