// File arguments that would hurt a chip or a backup: a file that is one of
// the headset's EEPROMs, a blob line that names the file being applied, a
// save that fails half way, a restore whose stored header cannot be read.
#include <gtest/gtest.h>

#include "service_fixture.h"

namespace {

class FileArguments : public Service {};

const std::string CHIP = "/sys/bus/i2c/devices/1-0050/eeprom";

std::string is_chip(const std::string &file) {
    return "\n" + file + " is an EEPROM of the headset!\n";
}

TEST_F(FileArguments, FilesThatAreAChipAreRefusedBeforeAnythingIsWritten) {
    const bytes core = image_for(CORE, provisioned(CORE));
    const bytes vrcal = image_for(VRCAL, provisioned(VRCAL));
    const std::vector<seeded> both = {{&CORE, core}, {&VRCAL, vrcal}};
    const std::string BLOB_LINE = "device_config " + CHIP + "\n";
    play({
        {"dump onto the chip", 2, 2, both, {}, {"dump", "core", CHIP}, 7, "", is_chip(CHIP)},
        {"blob saved onto the chip", 2, 2, both, {}, {"get", "device_config", CHIP}, 7, "",
         is_chip(CHIP)},
        {"blob loaded from the chip", 2, 2, both, {}, {"set", "device_config", CHIP}, 7, "",
         is_chip(CHIP)},
        {"restore from the chip", 2, 2, both, {}, {"restore", "core", CHIP}, 7, "", is_chip(CHIP)},
        {"apply the chip", 2, 2, both, {}, {"apply", CHIP}, 7, "", is_chip(CHIP)},
        {"a new file under /sys", 2, 2, both, {}, {"dump", "core", "/sys/core.img"}, 7, "",
         is_chip("/sys/core.img")},
        {"apply a blob line naming the chip", 2, 2, both, {{"st", text(BLOB_LINE)}},
         {"apply", "%D/st"}, 7, "", "line 1: device_config\n" + is_chip(CHIP)},
        {"a link to the chip", 2, 2, both, {},
         {"sh", "ln -s " + CHIP + " %D/link && %V dump core %D/link"}, 7, "", is_chip("%D/link")},
        // Bound elsewhere, the path says nothing: the file is the open chip.
        {"the chip bound over a file", 2, 2, both, {{"bound", bytes{}}},
         {"sh", "mount --bind " + CHIP + " %D/bound && %V dump core %D/bound; s=$?; "
                "umount %D/bound; exit $s"},
         7, "", found("core") + is_chip("%D/bound")},
        {"apply - with a blob line reading standard input", 2, 2, both, {},
         {"apply", "-"}, 7, "", "line 1: device_config: /dev/stdin is the file being applied\n",
         {}, {}, {}, "device_config /dev/stdin\nunit_sn X\n"},
        {"apply FILE with a blob line naming FILE", 2, 2, both, {},
         {"sh", "printf 'unit_sn X\\ndevice_config %D/st\\n' >%D/st && %V apply %D/st"}, 7, "",
         "line 2: device_config: %D/st is the file being applied\n"},
    });
}

TEST_F(FileArguments, SavesReplaceTheFileOnlyOnceItIsComplete) {
    const bytes core = image_for(CORE, provisioned(CORE));
    const bytes vrcal = image_for(VRCAL, provisioned(VRCAL));
    const std::vector<seeded> both = {{&CORE, core}, {&VRCAL, vrcal}};
    const bytes good = image_for(CORE);
    play({
        // One free page for a 6656-byte image: the old file stays whole,
        // and no temporary file is left beside it.
        {"full disk", 2, 2, both, {{"good", good}},
         {"sh", "mkdir %D/small && mount -t tmpfs -o size=4k none %D/small && "
                "cp %D/good %D/small/img && %V dump vrcal %D/small/img; s=$?; "
                "cmp %D/good %D/small/img && ls -A %D/small; umount %D/small; exit $s"},
         3, "img\n", found("vrcal") + "vrcal: Write Failed!\n"},
        {"mode of the old file kept", 2, 2, both, {{"f", good}},
         {"sh", "chmod 640 %D/f && %V dump core %D/f 2>/dev/null && stat -c %a %D/f"}, 0,
         "640\n", "", {}, {{"f", core}}},
        {"a new file as the umask makes it", 2, 2, both, {},
         {"sh", "umask 027 && %V dump core %D/f 2>/dev/null && stat -c %a %D/f"}, 0, "640\n", "",
         {}, {{"f", core}}},
        {"through a link, beside its target", 2, 2, both, {{"real", good}},
         {"sh", "ln -s real %D/link && %V dump core %D/link 2>/dev/null && readlink %D/link"}, 0,
         "real\n", "", {}, {{"real", core}}},
        {"a FIFO is written directly", 2, 2, both, {},
         {"sh", "mkfifo %D/p && { cat %D/p >%D/out & } && %V dump core %D/p 2>/dev/null; wait"},
         0, "", "", {}, {{"out", core}}},
    });
}

TEST_F(FileArguments, RestoreReadsTheStoredHeaderFirst) {
    const bytes v5 = image_for(CORE, provisioned(CORE));
    const bytes v4 = image_for(CORE, {{24, text_bytes("V4", 14)}}, 4);
    // Layout 4 ends where prox_noise is; the stored checksum behind it is
    // guarded, the byte between left as it was.
    bytes after = v4;
    after.insert(after.end(), {v5[274], 0xFF, 0xFF});
    play({
        {"stored header unreadable: nothing written", 2, 2, {{&CORE, v5}}, {{"f", v4}},
         {"restore", "core", "%D/f"}, 2, "", found("core") + "Read Header Failed on errno: 5\n",
         {}, {}, {"EMU_EEPROM_FAIL_READ=1"}},
        {"an older layout over a newer one", 2, 2, {{&CORE, v5}}, {{"f", v4}},
         {"restore", "core", "%D/f"}, 0, "", found("core") + " Restoring core\n",
         {{&CORE, after}}},
    });
}

}  // namespace
