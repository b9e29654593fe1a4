// Every command of the command table once, on the standard headset with each
// region written: a short run of the whole tool that the 32-bit listing pass
// repeats (tests/CMakeLists.txt). Which of the two chips the kernel lists
// first decides whether a command that needs both boards lists the devices
// once or twice, and must change nothing else.
#include "headset_fixtures.h"

namespace {

const image_item REVISION = {.offset = 9, .bytes = text_bytes("EVT 3", 32)};
const image_item SERIAL = {.offset = 24, .bytes = text_bytes("SN42", 14)};
const image_item STRAP_SERIAL = {.offset = 9, .bytes = text_bytes("S0000042", 14)};

const std::string FOUND_CORE = found("core");
const std::string FOUND_STRAP = found("strap", "1-0051");

struct smoke_row {
    expected_run run;  // %D in words and texts: the scratch directory
    int listings;      // opens of the bus directory (LISTINGS_FOR_BOTH: see there)
};

using CommandTable = ScratchTest;

TEST_F(CommandTable, EveryCommandRunsOnTheStandardHeadset) {
    std::string all_out = "Core EEPROM Data:\n", all_err;
    walk(all_out, all_err, family(2, 0), {{"board_revision", "EVT 3"}, {"unit_sn", "SN42"}});
    all_out += "\nStrap EEPROM Data:\n";
    walk(all_out, all_err, family(0, 2), {{"strap_sn", "S0000042"}});

    std::string items;
    for (const auto &[item, region] : family(2, 2)) {
        const std::string value = item == "board_revision" ? "\"EVT 3\""
                                  : item == "unit_sn"      ? "\"SN42\""
                                  : item == "strap_sn"     ? "\"S0000042\""
                                                           : "null";
        items += (items.empty() ? "" : ", ") + ("\"" + item + "\": " + value);
    }
    const std::string json =
        std::string("{\"vellum\": \"") + VELLUM_VERSION +
        "\", \"regions\": {\"bootloader\": {\"version\": 3, \"locked\": false}, \"core\": "
        "{\"version\": 5, \"locked\": false}, \"vrcal\": {\"version\": 1, \"locked\": false}, "
        "\"strap\": {\"version\": 1, \"locked\": false}}, \"items\": {" + items + "}}\n";
    const std::string found_all = found("bootloader") + FOUND_CORE + found("vrcal") + FOUND_STRAP;

    const smoke_row rows[] = {
        {{{"help"}, 0, help_text(2, 2), ""}, LISTINGS_FOR_BOTH},
        {{{"version"}, 0, version_line(), ""}, 0},
        {{{"print_all"}, 0, all_out, all_err}, LISTINGS_FOR_BOTH},
        {{{"reset", "strap"}, 0, "", FOUND_STRAP + " Reseting strap\n"}, LISTINGS_FOR_BOTH},
        {{{"lock", "core"}, 0, "", FOUND_CORE + " Locking core\n"}, LISTINGS_FOR_BOTH},
        {{{"unlock", "strap"}, 0, "", FOUND_STRAP + " Unlocking strap\n"}, LISTINGS_FOR_BOTH},
        {{{"upgrade", "core"}, 0, "", FOUND_CORE + "Already Latest Version!\n"}, LISTINGS_FOR_BOTH},
        {{{"get", "strap_sn"}, 0, "S0000042", FOUND_STRAP + "strap_sn: \n"}, LISTINGS_FOR_BOTH},
        {{{"set", "unit_sn", "SN43"}, 0, "", FOUND_CORE}, 1},
        {{{"check"}, 0,
          "bootloader: version 3, unlocked, 1 of 3 items set\ncore: version 5, unlocked, 1 of 17 "
          "items set\nvrcal: version 1, unlocked, 0 of 3 items set\nstrap: version 1, unlocked, "
          "1 of 11 items set\n",
          found_all},
         LISTINGS_FOR_BOTH},
        {{{"dump", "strap", "%D/strap.img"}, 0, "", FOUND_STRAP + "strap: %D/strap.img written\n"},
         LISTINGS_FOR_BOTH},
        {{{"restore", "core", "%D/core.img"}, 0, "", FOUND_CORE + " Restoring core\n"},
         LISTINGS_FOR_BOTH},
        {{{"export"}, 0, json, found_all}, LISTINGS_FOR_BOTH},
        {{{"apply", "%D/station.txt"}, 0, "",
          FOUND_CORE + FOUND_STRAP + " Applying 1 items to core\n Applying 1 items to strap\n"},
         LISTINGS_FOR_BOTH},
    };
    for (const smoke_row &row : rows) {
        empty_dir();
        emu_headset hs = headset();
        seed(hs, BOOTLOADER, {REVISION});
        seed(hs, CORE, {SERIAL});
        seed(hs, VRCAL);
        seed(hs, STRAP_GEN2, {STRAP_SERIAL});
        write_file(dir_ + "/core.img", image_for(CORE, {SERIAL}));
        const std::string station = "unit_sn SN43\nstrap_sn S43\n";
        write_file(dir_ + "/station.txt", std::vector<uint8_t>(station.begin(), station.end()));

        expected_run run = row.run;
        for (std::string &word : run.args) word = expand(word);
        run.err = expand(run.err);
        const run_result r = expect_run(run);
        EXPECT_EQ(count_calls(r, "opendir /sys/bus/i2c/devices"), expected_listings(row.listings))
            << row.run.args[0];
    }
}

}  // namespace
