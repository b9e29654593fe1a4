// File arguments that would hurt a chip or a backup: a file that is one of
// the headset's EEPROMs, a blob line that names the file being applied, a
// save that fails half way, a restore whose stored header cannot be read.
#include "station_file.h"

namespace {

const std::string CHIP = SYSFS + "/1-0050/eeprom";

std::vector<placed> core_and_vrcal() { return {{&CORE, provisioned(CORE)}, {&VRCAL, provisioned(VRCAL)}}; }

e2e_row run(const char *what, std::vector<std::string> args, int status, const std::string &out,
            const std::string &err) {
    return e2e_row{what, std::move(args), status, out, err}.holding(core_and_vrcal());
}

TEST(FileArguments, FilesThatAreAChipAreRefusedBeforeAnythingIsWritten) {
    play({
        run("dump onto the chip", {"dump", "core", CHIP}, 7, "", is_chip(CHIP)),
        run("blob saved onto the chip", {"get", "device_config", CHIP}, 7, "", is_chip(CHIP)),
        run("blob loaded from the chip", {"set", "device_config", CHIP}, 7, "", is_chip(CHIP)),
        run("restore from the chip", {"restore", "core", CHIP}, 7, "", is_chip(CHIP)),
        run("apply the chip", {"apply", CHIP}, 7, "", is_chip(CHIP)),
        run("a new file under /sys", {"dump", "core", "/sys/core.img"}, 7, "", is_chip("/sys/core.img")),
        run("apply a blob line naming the chip", {"apply", "%D/st"}, 7, "",
            "line 1: device_config\n" + is_chip(CHIP))
            .with_files({{"st", text("device_config " + CHIP + "\n")}}),
        run("a link to the chip", {"sh", "ln -s " + CHIP + " %D/link && %V dump core %D/link"}, 7, "",
            is_chip("%D/link")),
        // Bound elsewhere, the path says nothing: the file is the open chip.
        run("the chip bound over a file",
            {"sh",
             "mount --bind " + CHIP + " %D/bound && %V dump core %D/bound; s=$?; umount %D/bound; exit $s"},
            7, "", found("core") + is_chip("%D/bound"))
            .with_files({{"bound", bytes{}}}),
        run("apply - with a blob line reading standard input", {"apply", "-"}, 7, "",
            "line 1: device_config: /dev/stdin is the file being applied\n")
            .reading("device_config /dev/stdin\nunit_sn X\n"),
        run("apply FILE with a blob line naming FILE",
            {"sh", "printf 'unit_sn X\\ndevice_config %D/st\\n' >%D/st && %V apply %D/st"}, 7, "",
            "line 2: device_config: %D/st is the file being applied\n"),
    });
}

TEST(FileArguments, SavesReplaceTheFileOnlyOnceItIsComplete) {
    const bytes good = image_for(CORE), core = provisioned(CORE);
    play({
        // One free page for a 6656-byte image: the old file stays whole,
        // and no temporary file is left beside it.
        run("full disk",
            {"sh",
             "mkdir %D/small && mount -t tmpfs -o size=4k none %D/small && "
             "cp %D/good %D/small/img && %V dump vrcal %D/small/img; s=$?; "
             "cmp %D/good %D/small/img && ls -A %D/small; umount %D/small; exit $s"},
            3, "img\n", found("vrcal") + "vrcal: " + WRITE_FAILED)
            .with_files({{"good", good}}),
        run("mode of the old file kept",
            {"sh", "chmod 640 %D/f && %V dump core %D/f 2>/dev/null && stat -c %a %D/f"}, 0, "640\n", "")
            .with_files({{"f", good}})
            .leaving({{"f", core}}),
        run("a new file as the umask makes it",
            {"sh", "umask 027 && %V dump core %D/f 2>/dev/null && stat -c %a %D/f"}, 0, "640\n", "")
            .leaving({{"f", core}}),
        run("through a link, beside its target",
            {"sh", "ln -s real %D/link && %V dump core %D/link 2>/dev/null && readlink %D/link"}, 0, "real\n",
            "")
            .with_files({{"real", good}})
            .leaving({{"real", core}}),
        run("a FIFO is written directly",
            {"sh", "mkfifo %D/p && { cat %D/p >%D/out & } && %V dump core %D/p 2>/dev/null; wait"}, 0, "", "")
            .leaving({{"out", core}}),
    });
}

TEST(FileArguments, RestoreReadsTheStoredHeaderFirst) {
    const bytes v5 = provisioned(CORE), v4 = image_for(CORE, {field("unit_sn", "V4")}, 4);
    // Layout 4 ends where prox_noise is; the stored checksum behind it is
    // guarded, the byte between left as it was.
    bytes after = v4;
    after.insert(after.end(), {v5[274], 0xFF, 0xFF});
    play({
        e2e_row{"stored header unreadable: nothing written",
                {"restore", "core", "%D/f"},
                2,
                "",
                found("core") + READ_HEADER + "5\n"}
            .holding({{&CORE, v5}})
            .with_files({{"f", v4}})
            .under({"EMU_EEPROM_FAIL_READ=1"}),
        e2e_row{"an older layout over a newer one",
                {"restore", "core", "%D/f"},
                0,
                "",
                found("core") + restoring("core")}
            .holding({{&CORE, v5}})
            .with_files({{"f", v4}})
            .writing({{&CORE, after}}),
    });
}

}  // namespace
