// verify and apply --dry-run: a station file compared with the chips, and
// tried without writing them. Both leave every chip as it was.
#include <gtest/gtest.h>

#include "service_fixture.h"

namespace {

class Verify : public Service {};

TEST_F(Verify, ComparesEveryListedItemByWhatGetPrints) {
    std::vector<seeded> locked;
    for (const region_spec *r : {&BOOTLOADER, &CORE, &VRCAL, &STRAP_GEN2})
        locked.push_back({r, image_for(*r, provisioned(*r), 0, 0x00)});
    const std::string P = provision_file("\n");
    const auto with = [&](const std::string &content) {
        return files{{"p", text(expand(content))}, {"cal.bin", CALIBRATION}};
    };
    const auto row = [&](const char *what, const std::string &content, int status,
                         const std::string &out, const std::string &err = FOUND_ALL,
                         std::vector<seeded> seeds = {}) {
        return chip_row{what,   2, 2, seeds.empty() ? locked : seeds, with(content),
                        {"verify", "%D/p"}, status, out, err};
    };
    bytes other_cal = CALIBRATION;
    other_cal[1000] ^= 0x40;
    // A unit whose core region is at layout 4 and whose items are unset.
    std::vector<seeded> older = locked;
    older[1].image = image_for(CORE, {}, 4);
    const std::string CORE_ONLY = found("core");
    play({
        {"a provisioned, locked unit", 2, 2, locked, with(P), {"verify", "%D/p"}, 0, "", FOUND_ALL},
        {"standard input", 2, 2, locked, with(""), {"verify", "-"}, 0, "", FOUND_ALL, {}, {}, {},
         P},
        row("every kind differs",
            "board_revision \"EVT 4\"\nimu_rev C\nmac_addr_wifi 00:1a:2b:3c:4d:5f\n"
            "prox_near 1201\nipd_min -3200 150 1\nstrap_sn S0000043\n",
            1,
            "line 1: board_revision: stored EVT 3, file EVT 4\n"
            "line 2: imu_rev: stored B, file C\n"
            "line 3: mac_addr_wifi: stored 00:1A:2B:3C:4D:5E, file 00:1A:2B:3C:4D:5F\n"
            "line 4: prox_near: stored 1200, file 1201\n"
            "line 5: ipd_min: stored -3200, 150, 0, file -3200, 150, 1\n"
            "line 6: strap_sn: stored S0000042, file S0000043\n",
            found("bootloader") + found("core") + found("strap", "1-0051")),
        row("items not set", "mpcba_sn M1\nprox_mid 7\nxrservice %D/cal.bin\n", 1,
            "line 1: mpcba_sn: stored not set, file M1\nline 2: prox_mid: stored not set, file 7\n"
            "line 3: xrservice: stored not set, file 1500 bytes\n",
            found("core") + found("vrcal")),
        row("an item the stored layout lacks", "unit_sn X\nprox_noise 3\n", 1,
            "line 1: unit_sn: stored not set, file X\nline 2: prox_noise: not in layout 4, file 3\n",
            CORE_ONLY, older),
        {"a blob of another length", 2, 2, locked, {{"p", text(expand("device_config %D/c\n"))},
                                                    {"c", bytes(CALIBRATION.begin(), CALIBRATION.end() - 1)}},
         {"verify", "%D/p"}, 1, "line 1: device_config: stored 1500 bytes, file 1499 bytes\n",
         found("vrcal")},
        {"a blob of other bytes", 2, 2, locked,
         {{"p", text(expand("device_config %D/c\n"))}, {"c", other_cal}}, {"verify", "%D/p"}, 1,
         "line 1: device_config: stored 1500 bytes, file 1500 bytes, differs at byte 1001\n",
         found("vrcal")},
        // Refused as apply refuses, before any chip is looked at.
        row("an unknown name", "unit_serial X\n", 7, "", "line 1: unit_serial was not found!\n"),
        row("a bad value", "prox_far 70000\n", 7, "",
            "line 1: prox_far\n\nset uint16_t value - 70000 - would overflow!\n"),
        row("a region that does not load", "strap_sn S\n", 6, "",
            strap_found() + uninit("strap"), {locked[0], locked[1], locked[2]}),
        {"no file name", 2, 2, {}, {}, {"verify"}, 7, "",
         "\nverify command requires a file name!\n" + hint("verify")},
        {"standard output fails", 2, 2, locked, with("prox_near 1\n"),
         {"sh", "%V verify %D/p >/dev/full"}, 3, "", found("core") + "Write Failed!\n"},
    });
}

TEST_F(Verify, DryRunChecksLikeApplyAndWritesNothing) {
    std::vector<seeded> reset;
    for (const region_spec *r : {&BOOTLOADER, &CORE, &VRCAL, &STRAP_GEN2})
        reset.push_back({r, image_for(*r)});
    std::vector<seeded> locked = reset;
    locked[1].image = image_for(CORE, {}, 0, 0x00);
    const files with = {{"p", text(expand(provision_file("\n")))}, {"cal.bin", CALIBRATION}};
    const std::string WOULD = " Would apply 2 items to bootloader\n Would apply 5 items to core\n"
                              " Would apply 1 items to vrcal\n Would apply 2 items to strap\n";
    play({
        {"would succeed", 2, 2, reset, with, {"apply", "--dry-run", "%D/p"}, 0, "",
         FOUND_ALL + WOULD},
        {"would be refused: a locked region", 2, 2, locked, with, {"apply", "--dry-run", "%D/p"},
         5, "", FOUND_ALL + "cannot write unit_sn, eeprom locked!\n"},
        {"another word before the file", 2, 2, reset, with, {"apply", "--dry", "%D/p"}, 7, "",
         "\napply command requires a file name!\n" + hint("apply")},
        {"the option alone", 2, 2, reset, with, {"apply", "--dry-run"}, 7, "",
         "\napply command requires a file name!\n" + hint("apply")},
    });
}

}  // namespace
