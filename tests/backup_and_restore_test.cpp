// dump and restore: a region's raw image saved as stored, damaged or not, and
// written back only when the file is a valid image of that region, checked
// before the chip is opened.
#include "station_file.h"

namespace {

TEST(BackupAndRestore, RoundTripEveryRegionOfBothGenerations) {
    const std::vector<std::pair<int, placed>> cases = {
        {2, {&BOOTLOADER, provisioned(BOOTLOADER)}},
        {2, {&CORE, provisioned(CORE, 0x00)}},
        {2, {&VRCAL, provisioned(VRCAL)}},
        {2, {&STRAP_GEN2, provisioned(STRAP_GEN2)}},
        {1, {&BOOTLOADER, image_for(BOOTLOADER)}},
        {1, {&CORE, image_for(CORE, {field("unit_sn", "V3")}, 3)}},
        {1, {&STRAP_GEN1, image_for(STRAP_GEN1, {field("left_audio_admittance", le32(7))})}},
    };
    std::vector<e2e_row> runs;
    for (const auto &[gen, s] : cases) {
        const std::string name = s.region->name;
        runs.push_back(e2e_row{
            "dump " + name, {"dump", name, "%D/img"}, 0, "", found(*s.region) + written(name, "%D/img")}
                           .on(gen, gen)
                           .holding({s})
                           .leaving({{"img", s.data}}));
        runs.push_back(e2e_row{"restore " + name,
                               {"restore", name.substr(0, 2), "%D/img"},
                               0,
                               "",
                               found(*s.region) + restoring(name)}
                           .on(gen, gen)
                           .holding({{s.region, bytes(s.data.size(), 0xFF)}})
                           .with_files({{"img", s.data}})
                           .writing({s}));
    }
    play(runs);
}

TEST(BackupAndRestore, DumpSavesDamagedRegionsAndRestoreRefusesBadImages) {
    const bytes core = provisioned(CORE);
    bytes corrupt = core;
    corrupt[30] ^= 1;
    const bytes foreign = image_for(VRCAL);
    const bytes erased(277, 0xFF);
    bytes too_new = image_for(CORE);
    too_new[4] = 6;
    reseal(too_new);
    bytes longer = core;
    longer.push_back(0);
    bytes padded_v4 = image_for(CORE, {}, 4);
    padded_v4.resize(277, 0xFF);
    const std::string FC = found("core");
    const auto dump = [&](const char *what, std::vector<std::string> args, int status,
                          const std::string &err) {
        return e2e_row{what, std::move(args), status, "", err};
    };
    const auto refused = [&](const char *what, const bytes &file, const std::string &err, int status) {
        return e2e_row{what, {"restore", "core", "%D/f"}, status, "", err}
            .holding({{&CORE, image_for(CORE)}})
            .with_files({{"f", file}});
    };
    const std::string INVALID = "%D/f is not a valid core image\n";
    play({
        dump("dump blank", {"dump", "core", "%D/f"}, 0, FC + written("core", "%D/f"))
            .leaving({{"f", erased}}),
        dump("dump corrupt at its layout's size", {"dump", "c", "%D/f"}, 0, FC + written("core", "%D/f"))
            .holding({{&CORE, corrupt}})
            .leaving({{"f", corrupt}}),
        dump("dump foreign: whole buffer", {"dump", "core", "%D/f"}, 0, FC + written("core", "%D/f"))
            .holding({{&CORE, foreign}})
            .leaving({{"f", bytes(foreign.begin(), foreign.begin() + 277)}}),
        dump("dump, device read fails", {"dump", "core", "%D/f"}, 2, FC + READ_DATA + "5\n")
            .holding({{&CORE, core}})
            .leaving({{"f", std::nullopt}})
            .under({"EMU_EEPROM_FAIL_READ=2"}),
        dump("dump into a missing directory", {"dump", "core", "%D/x/f"}, 7, FC + cannot_create("%D/x/f", 2))
            .holding({{&CORE, core}}),
        dump("dump without a file", {"dump", "core"}, 7, needs("dump", "a region and a file name")),
        dump("restore with three words", {"restore", "core", "a", "b"}, 7,
             needs("restore", "a region and a file name")),
        dump("dump an unknown region", {"dump", "cores", "%D/f"}, 7, not_found("cores", "dump")),
        dump("dump the empty word", {"dump", "", "%D/f"}, 7, not_found("", "dump")),
        refused("wrong region", image_for(BOOTLOADER), INVALID, 5),
        refused("bad checksum", corrupt, INVALID, 5),
        refused("one byte more than the layout", longer, size_refused(278, 277), 7),
        refused("an older layout's image padded", padded_v4, INVALID, 5),
        refused("unknown version", too_new, INVALID, 5),
        refused("uninitialised", erased, INVALID, 5),
        refused("empty", {}, INVALID, 5),
        dump("too large as a stream", {"sh", "cat %D/f | %V restore core /dev/stdin"}, 7,
             size_refused(278, 277))
            .with_files({{"f", longer}}),
        dump("missing file", {"restore", "core", "%D/none"}, 7, cannot_open("%D/none", 2)),
        dump("restore over a locked region", {"restore", "core", "%D/f"}, 0, FC + restoring("core"))
            .holding({{&CORE, image_for(CORE, {}, 0, 0)}})
            .with_files({{"f", core}})
            .writing({{&CORE, core}}),
    });
}

}  // namespace
