// Every command of the command table once, on the standard headset with each
// region written: a short run of the whole tool that the 32-bit listing pass
// repeats (tests/CMakeLists.txt). Which of the two chips the kernel lists
// first decides whether a command that needs both boards lists the devices
// once or twice, and must change nothing else.
#include "end_to_end.h"

namespace {

TEST(CommandSmoke, EveryCommandRunsOnTheStandardHeadset) {
    const image_item REVISION = field("board_revision", "EVT 3"), SERIAL = field("unit_sn", "SN42"),
                     STRAP_SERIAL = field("strap_sn", "S0000042");
    const std::vector<placed> seeds = {{&BOOTLOADER, image_for(BOOTLOADER, {REVISION})},
                                       {&CORE, image_for(CORE, {SERIAL})},
                                       {&VRCAL, image_for(VRCAL)},
                                       {&STRAP_GEN2, image_for(STRAP_GEN2, {STRAP_SERIAL})}};
    const std::string FC = found("core"), FS = found(STRAP_GEN2);
    const std::string found_all = found("bootloader") + FC + found("vrcal") + FS;
    const auto run = [&](std::vector<std::string> args, const std::string &out, const std::string &err,
                         int listings = LISTINGS_FOR_BOTH) {
        return e2e_row{args[0], std::move(args), 0, out, err}
            .holding(seeds)
            .with_files({{"core.img", image_for(CORE, {SERIAL})},
                         {"station.txt", text("unit_sn SN43\nstrap_sn S43\n")}})
            .listed(listings);
    };
    play({
        run({"help"}, golden("help-core2-strap2.out"), ""),
        run({"version"}, version_line(), "", 0),
        run({"print_all"}, golden("print_all-smoke.out"), golden("print_all-smoke.err")),
        run({"reset", "strap"}, "", FS + reseting("strap")).writing({{&STRAP_GEN2, image_for(STRAP_GEN2)}}),
        run({"lock", "core"}, "", FC + locking("core"))
            .writing({{&CORE, image_for(CORE, {SERIAL}, 0, 0x00)}}),
        run({"unlock", "strap"}, "", FS + unlocking("strap")),
        run({"upgrade", "core"}, "", FC + LATEST),
        run({"get", "strap_sn"}, "S0000042", FS + shown("strap_sn")),
        run({"set", "unit_sn", "SN43"}, "", FC, 1)
            .writing({{&CORE, image_for(CORE, {field("unit_sn", "SN43")})}}),
        run({"check"},
            "bootloader: version 3, unlocked, 1 of 3 items set\ncore: version 5, unlocked, 1 of 17 items "
            "set\n"
            "vrcal: version 1, unlocked, 0 of 3 items set\nstrap: version 1, unlocked, 1 of 11 items set\n",
            found_all),
        run({"dump", "strap", "%D/strap.img"}, "", FS + written("strap", "%D/strap.img"))
            .leaving({{"strap.img", image_for(STRAP_GEN2, {STRAP_SERIAL})}}),
        run({"restore", "core", "%D/core.img"}, "", FC + restoring("core")),
        run({"export"}, golden("export-smoke.json"), found_all),
        run({"apply", "%D/station.txt"}, "", FC + FS + applying(1, "core") + applying(1, "strap"))
            .writing({{&CORE, image_for(CORE, {field("unit_sn", "SN43")})},
                      {&STRAP_GEN2, image_for(STRAP_GEN2, {field("strap_sn", "S43")})}}),
        e2e_row{"verify",
                {"verify", "%D/station.txt"},
                1,
                "line 1: unit_sn: stored SN42, file SN43\nline 2: strap_sn: stored S0000042, file S43\n",
                FC + FS}
            .holding(seeds)
            .with_files({{"station.txt", text("unit_sn SN43\nstrap_sn S43\n")}})
            .listed(LISTINGS_FOR_BOTH),
    });
}

}  // namespace
