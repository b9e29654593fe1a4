// print_all: every item of core board and strap, values on standard output
// under a heading per board, labels and failures on standard error, the
// listing going on past every failing item and region, status 0 always, and
// nothing ever written. The long listings are golden files.
#include "end_to_end.h"

namespace {

const std::string CORE_HEAD = "Core EEPROM Data:\n", STRAP_HEAD = "\nStrap EEPROM Data:\n";
const std::string NO_CORE = label_missing("core_eeprom"), NO_STRAP = label_missing("strap_eeprom");

TEST(PrintAll, ListsEveryItemAndGoesOnPastEveryFailure) {
    bytes cal(2147, 0);
    cal[0] = 3, cal[2] = 'C', cal[3] = 'A', cal[4] = 'L';
    const auto print = [](const char *what, std::vector<std::string> args = {"print_all"}) {
        return e2e_row{what, std::move(args), 0, HEADINGS}.pwrite_calls(0);
    };
    const auto with_err = [](e2e_row r, const std::string &err) {
        r.err = err;
        return r;
    };
    const auto listing = [&](const char *what, const std::string &name) {
        e2e_row r = print(what);
        r.out = golden("print_all-" + name + ".out");
        r.err = golden("print_all-" + name + ".err");
        return r;
    };
    emu_headset core_without_file = emu_standard_headset();
    core_without_file.chips[0].kind = emu_kind::no_eeprom_file;
    play({
        with_err(print("no chips at all"), NO_CORE + NO_STRAP).on(0, 0),
        with_err(print("words after print_all are ignored", {"print_all", "unit_sn", "x"}),
                 NO_CORE + NO_STRAP)
            .on(0, 0),
        // A load that failed is tried again by the next item: one header
        // read for each of the 23 + 11 items.
        listing("blank chips", "blank").pread_calls(34),
        // Each region read once: header and image, vrcal's in two pages.
        listing("second generation, some items set", "some-set")
            .holding(reset_regions(2, 2,
                                   {{&BOOTLOADER, field("board_revision", "EVT3")},
                                    {&CORE, field("unit_sn", "SN-0001")},
                                    {&CORE, field("mac_addr_ble", bytes{10, 11, 12, 13, 14, 15})},
                                    {&CORE, field("ipd_min", bytes{0xFB, 0xFF, 0, 0, 5, 0})},
                                    {&CORE, field("prox_noise", le16(5))},
                                    {&VRCAL, field("device_config", cal)},
                                    {&STRAP_GEN2, field("strap_sn", "STRAP-1")},
                                    {&STRAP_GEN2, field("right_audio_resistance", le16(8))}}))
            .pread_calls(2 + 2 + 3 + 2),
        listing("first generation, core region at layout 4", "first-generation").on(1, 1).holding([] {
            std::vector<placed> seeds =
                reset_regions(1, 1,
                              {{&BOOTLOADER, field("imu_rev", "Q")},
                               {&STRAP_GEN1, field("strap_sn", "S-77")},
                               {&STRAP_GEN1, field("left_audio_admittance", le32(4000000000u))},
                               {&STRAP_GEN1, field("right_audio_temp", le16(25), 1)}});
            seeds.push_back({&CORE, image_for(CORE, {field("midwall_heat_pipe_sn", "MW-9")}, 4)});
            return seeds;
        }()),
        // A chip that is listed but cannot be opened is reported once.
        listing("core chip cannot be opened", "core-unopened")
            .on(core_without_file)
            .holding({{&STRAP_GEN2, image_for(STRAP_GEN2, {field("strap_sn", "STRAP-2")})}}),
        listing("no strap chip", "no-strap").on(2, 0).holding(reset_regions(2, 0)),
        // Without the device directory every lookup fails with a negative
        // status, which does not stop the listing: one line for each
        // generation probe and one for each item of both first-generation
        // tables.
        with_err(print("no I2C device directory"), repeat(NO_SYSFS, 1 + 20 + 1 + 19)).on(no_bus()),
        // The blobs: a set one only says so.
        listing("set and unset blobs, no strap", "blobs")
            .on(2, 0)
            .holding(
                {{&VRCAL, image_for(VRCAL, {blob("device_config", text("cfg")), blob("eyetracking", {})})}}),
        // Both streams into one: each heading comes before its table's lines.
        e2e_row{
            "one stream", {"sh", "exec %V print_all 2>&1"}, 0, CORE_HEAD + NO_CORE + STRAP_HEAD + NO_STRAP}
            .on(0, 0),
    });
}

}  // namespace
