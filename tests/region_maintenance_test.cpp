// Region maintenance end to end: reset, lock, unlock and upgrade, with the
// whole of every chip compared after each run against what the run may have
// changed. A maintenance command that writes a byte outside its own region
// destroys a neighbour's calibration, so "the rest of the chip is untouched"
// is part of every expectation here.
#include "end_to_end.h"

namespace {

bytes relocked(bytes img, uint8_t lock) {
    img[8] = lock;
    reseal(img);
    return img;
}

// One item byte off by one: the checksum no longer matches.
bytes corrupted(bytes img) {
    img[20] ^= 0x01;
    return img;
}

bytes with_magic(bytes img, uint32_t magic) {
    const bytes m = le32(magic);
    std::copy(m.begin(), m.end(), img.begin());
    reseal(img);
    return img;
}

// An item written by `set`: value, valid marker, fresh checksum.
bytes with_item(bytes img, const image_item &it) {
    std::copy(it.bytes.begin(), it.bytes.end(), img.begin() + it.offset);
    img[it.offset + it.bytes.size()] = 0xA5;
    reseal(img);
    return img;
}

// A core image of an older layout as an upgrade to 5 leaves it: the old
// bytes where they were (the old checksum now inside the first new item),
// version 5, zeros from the old end to the new checksum (the buffer of a
// fresh process; the new items' markers at 271 and 274 fall in there) and
// the checksum over 277 bytes.
bytes upgraded_core(bytes img) {
    img.resize(CORE.size(), 0x00);
    const bytes v = le32(5);
    std::copy(v.begin(), v.end(), img.begin() + 4);
    reseal(img);
    return img;
}

bytes head(bytes b, size_t n) {
    b.resize(n);
    return b;
}

bytes filled(size_t n, uint8_t seed) {
    bytes out(n);
    for (size_t i = 0; i < n; i++) out[i] = static_cast<uint8_t>(seed + i * 7);
    return out;
}

const std::string FAIL_FIRST_WRITE = "EMU_EEPROM_FAIL_WRITE=1";
const std::string WRITE_FAILED_5 = WRITE_ERRNO + "5\n";

// A command on one region: the streams say so, and what it writes is the image.
e2e_row on(const region_fact &r, const char *what, const std::string &cmd, int status, const std::string &err,
           std::vector<placed> seeds = {}) {
    return e2e_row{what, {cmd, r.name}, status, "", found(r) + err}.holding(std::move(seeds));
}

TEST(RegionMaintenance, EffectsAndFailures) {
    const std::vector<image_item> items = {field("unit_sn", "SN-5"),
                                           field("mac_addr_wifi", bytes{1, 2, 3, 4, 5, 6}),
                                           field("prox_noise", le16(3))};
    const bytes core = image_for(CORE, items), locked = image_for(CORE, items, 0, 0x00);
    const bytes v3 = image_for(CORE, {field("unit_sn", "SN-3")}, 3);
    const bytes v4 = image_for(CORE, {field("midwall_heat_pipe_sn", "MW-4")}, 4);
    const std::vector<placed> chip_pattern = {{&CORE_CHIP, filled(8192, 1)}, {&STRAP_CHIP, filled(4096, 2)}};
    const auto resets = [](const region_fact &r, const char *what, std::vector<placed> seeds, int pwrites) {
        return on(r, what, "reset", 0, reseting(r.name), std::move(seeds))
            .writing({{&r, image_for(r)}})
            .pwrite_calls(pwrites);
    };
    const auto nothing = [](e2e_row r) { return r.pwrite_calls(0); };
    play({
        // Reset writes the newest layout over whatever was there, and only
        // the region's own bytes.
        resets(CORE, "reset core among foreign bytes", chip_pattern, 3),
        resets(BOOTLOADER, "reset bootloader among foreign bytes", chip_pattern, 3),
        resets(VRCAL, "reset vrcal among foreign bytes", chip_pattern, 4),
        resets(STRAP_GEN2, "reset strap among foreign bytes", chip_pattern, 3),
        resets(CORE, "reset a locked image", {{&CORE, locked}}, 5),
        resets(CORE, "reset a corrupt image", {{&CORE, corrupted(core)}}, 5),
        resets(CORE, "reset a foreign image", {{&CORE, with_magic(core, VRCAL.magic)}}, 5),
        resets(CORE, "reset a too new image", {{&CORE, image_for(CORE, items, 6)}}, 5),
        resets(CORE, "reset an older layout", {{&CORE, v3}}, 4),
        resets(STRAP_GEN2, "reset a first-generation image on a second-generation strap",
               {{&STRAP_GEN2, image_for(STRAP_GEN1)}}, 3),
        on(CORE, "reset, store fails", "reset", 3, reseting("core") + WRITE_FAILED_5, {{&CORE, core}})
            .under({FAIL_FIRST_WRITE})
            .pwrite_calls(1),
        // The guard bytes (0xFF 0xFF at the checksum) go first: on a blank
        // chip they change nothing; then the header, then the checksum fails.
        on(VRCAL, "reset vrcal, checksum write fails", "reset", 3, reseting("vrcal") + WRITE_FAILED_5)
            .under({"EMU_EEPROM_FAIL_WRITE=3"})
            .writing({{&VRCAL, head(image_for(VRCAL), 4096)}})
            .pwrite_calls(3),

        // Lock writes 0x00 whatever the lock byte held.
        on(CORE, "lock", "lock", 0, locking("core"), {{&CORE, core}})
            .writing({{&CORE, locked}})
            .pwrite_calls(3),
        nothing(on(CORE, "lock twice writes nothing", "lock", 0, locking("core"), {{&CORE, locked}})),
        on(CORE, "lock over an odd lock byte", "lock", 0, locking("core"), {{&CORE, relocked(core, 0x42)}})
            .writing({{&CORE, locked}})
            .pwrite_calls(3),
        on(VRCAL, "lock vrcal", "lock", 0, locking("vrcal"), {{&VRCAL, image_for(VRCAL)}})
            .writing({{&VRCAL, image_for(VRCAL, {}, 0, 0x00)}})
            .pwrite_calls(3),
        nothing(on(CORE, "lock uninitialised", "lock", 6, uninit("core"))),
        nothing(on(CORE, "lock corrupt", "lock", 5, CHECKSUM, {{&CORE, corrupted(core)}})),
        on(CORE, "lock, store fails", "lock", 3, locking("core") + WRITE_FAILED_5, {{&CORE, core}})
            .under({FAIL_FIRST_WRITE})
            .pwrite_calls(1),

        // Unlock writes 0xFF whatever the lock byte held.
        on(CORE, "unlock", "unlock", 0, unlocking("core"), {{&CORE, locked}})
            .writing({{&CORE, core}})
            .pwrite_calls(3),
        nothing(on(CORE, "unlock an unlocked region writes nothing", "unlock", 0, unlocking("core"),
                   {{&CORE, core}})),
        on(CORE, "unlock an odd lock byte", "unlock", 0, unlocking("core"), {{&CORE, relocked(core, 0x42)}})
            .writing({{&CORE, core}})
            .pwrite_calls(3),
        on(STRAP_GEN2, "unlock strap", "unlock", 0, unlocking("strap"),
           {{&STRAP_GEN2, image_for(STRAP_GEN2, {}, 0, 0)}})
            .writing({{&STRAP_GEN2, image_for(STRAP_GEN2)}})
            .pwrite_calls(3),
        nothing(on(VRCAL, "unlock uninitialised", "unlock", 6, uninit("vrcal"))),
        nothing(
            on(CORE, "unlock foreign", "unlock", 5, MAGIC, {{&CORE, with_magic(locked, STRAP_GEN2.magic)}})),
        on(CORE, "unlock, store fails", "unlock", 3, unlocking("core") + WRITE_FAILED_5, {{&CORE, locked}})
            .under({FAIL_FIRST_WRITE})
            .pwrite_calls(1),

        // Upgrade: nothing to do at the newest layout; refused when locked.
        nothing(on(CORE, "upgrade at latest", "upgrade", 0, LATEST, {{&CORE, core}})),
        nothing(on(
            BOOTLOADER, "upgrade bootloader", "upgrade", 0, LATEST, {{&BOOTLOADER, image_for(BOOTLOADER)}})),
        nothing(on(VRCAL, "upgrade vrcal", "upgrade", 0, LATEST, {{&VRCAL, image_for(VRCAL)}})),
        nothing(on(STRAP_GEN2, "upgrade strap", "upgrade", 0, LATEST, {{&STRAP_GEN2, image_for(STRAP_GEN2)}})),
        nothing(on(STRAP_GEN1, "upgrade first-generation strap", "upgrade", 0, LATEST,
                   {{&STRAP_GEN1, image_for(STRAP_GEN1)}})
                    .on(2, 1)),
        nothing(on(CORE, "upgrade locked at latest", "upgrade", 5, "cannot upgrade core, eeprom locked!\n",
                   {{&CORE, locked}})),
        nothing(on(CORE, "upgrade locked older layout", "upgrade", 5, "cannot upgrade core, eeprom locked!\n",
                   {{&CORE, relocked(v3, 0x00)}})),
        nothing(on(STRAP_GEN2, "upgrade uninitialised", "upgrade", 6, uninit("strap"))),
        nothing(on(CORE, "upgrade too new", "upgrade", 10, TOO_NEW, {{&CORE, image_for(CORE, items, 6)}})),
        nothing(on(CORE, "upgrade unknown older layout", "upgrade", 5, NO_LAYOUT,
                   {{&CORE, image_for(CORE, {}, 2)}})),
        on(CORE, "upgrade from 4", "upgrade", 0, invalidating("prox_noise") + upgrading("core", 4, 5),
           {{&CORE, v4}})
            .writing({{&CORE, upgraded_core(v4)}})
            .pwrite_calls(4),
        on(CORE, "upgrade from 3, store fails", "upgrade", 3,
           invalidating("midwall_heat_pipe_sn") + invalidating("prox_noise") + upgrading("core", 3, 5) +
               WRITE_FAILED_5,
           {{&CORE, v3}})
            .under({FAIL_FIRST_WRITE})
            .pwrite_calls(1),
    });
}

// A command in a sequence on one headset (the first on a fresh one): its
// words, status, streams, what it writes and its pwrite calls.
e2e_row step(std::vector<std::string> args, int status, const std::string &out, const std::string &err,
             std::vector<placed> writes = {}, int pwrites = 0) {
    return e2e_row{args[0] + " " + args[1], std::move(args), status, out, err}
        .writing(std::move(writes))
        .pwrite_calls(pwrites)
        .then();
}

// A blank headset brought into service: every region reset, items filled
// in, the core locked against writes and opened again.
TEST(RegionMaintenance, BlankHeadsetInitialisedFilledLockedAndUnlocked) {
    const auto rev = [](const char *s) { return std::vector<image_item>{field("board_revision", s)}; };
    const auto sn = [](const char *s) { return std::vector<image_item>{field("unit_sn", s)}; };
    const std::vector<image_item> strap_sn = {field("strap_sn", "ST9")};
    const std::string FC = found("core"), FB = found("bootloader"), FS = found(STRAP_GEN2);
    play({
        step({"reset", "bootloader"}, 0, "", FB + reseting("bootloader"),
             {{&BOOTLOADER, image_for(BOOTLOADER)}}, 3),
        step({"reset", "core"}, 0, "", FC + reseting("core"), {{&CORE, image_for(CORE)}}, 3),
        step({"reset", "vrcal"}, 0, "", found("vrcal") + reseting("vrcal"), {{&VRCAL, image_for(VRCAL)}}, 3),
        step({"reset", "strap"}, 0, "", FS + reseting("strap"), {{&STRAP_GEN2, image_for(STRAP_GEN2)}}, 3),
        step({"get", "unit_sn"}, 5, "", FC + not_set("unit_sn")),
        step({"set", "board_revision", "EVT2"}, 0, "", FB,
             {{&BOOTLOADER, image_for(BOOTLOADER, rev("EVT2"))}}, 3),
        step({"set", "unit_sn", "SN123"}, 0, "", FC, {{&CORE, image_for(CORE, sn("SN123"))}}, 3),
        step({"set", "strap_sn", "ST9"}, 0, "", FS, {{&STRAP_GEN2, image_for(STRAP_GEN2, strap_sn)}}, 3),
        step({"lock", "core"}, 0, "", FC + locking("core"), {{&CORE, image_for(CORE, sn("SN123"), 0, 0x00)}},
             3),
        step({"set", "unit_sn", "SN999"}, 5, "", FC + locked("unit_sn")),
        step({"get", "unit_sn"}, 0, "SN123", FC + shown("unit_sn")),
        // The lock is the core region's alone.
        step({"set", "board_revision", "EVT3"}, 0, "", FB,
             {{&BOOTLOADER, image_for(BOOTLOADER, rev("EVT3"))}}, 3),
        step({"unlock", "core"}, 0, "", FC + unlocking("core"), {{&CORE, image_for(CORE, sn("SN123"))}}, 3),
        step({"set", "unit_sn", "SN999"}, 0, "", FC, {{&CORE, image_for(CORE, sn("SN999"))}}, 3),
        // A reset forgets the region's items and nothing else.
        step({"reset", "core"}, 0, "", FC + reseting("core"), {{&CORE, image_for(CORE)}}, 3),
        step({"get", "unit_sn"}, 5, "", FC + not_set("unit_sn")),
        step({"get", "board_revision"}, 0, "EVT3", FB + shown("board_revision")),
        step({"get", "strap_sn"}, 0, "ST9", FS + shown("strap_sn")),
    });
}

// Core regions written by older tools are raised to layout 5 in place: old
// items keep their values, the new ones read as not set until written.
TEST(RegionMaintenance, CoreUpgradedFromLayout3) {
    const bytes v3 = image_for(CORE,
                               {field("unit_sn", "SN-3"), field("prox_near", le16(1234)),
                                field("core_cm_sn", "CM-3"), field("diplexer", le16(7))},
                               3);
    const bytes up = upgraded_core(v3);
    const bytes noise = with_item(up, field("prox_noise", le16(9)));
    const std::string FC = found("core");
    play({
        e2e_row{"start", {"get", "prox_noise"}, 5, "", FC + not_in_layout("read", "prox_noise")}
            .holding({{&CORE, v3}})
            .pwrite_calls(0),
        step({"upgrade", "core"}, 0, "",
             FC + invalidating("midwall_heat_pipe_sn") + invalidating("prox_noise") + upgrading("core", 3, 5),
             {{&CORE, up}}, 4),
        step({"get", "unit_sn"}, 0, "SN-3", FC + shown("unit_sn")),
        step({"get", "prox_near"}, 0, "1234", FC + shown("prox_near")),
        step({"get", "core_cm_sn"}, 0, "CM-3", FC + shown("core_cm_sn")),
        step({"get", "diplexer"}, 0, "7", FC + shown("diplexer")),
        step({"get", "midwall_heat_pipe_sn"}, 5, "", FC + not_set("midwall_heat_pipe_sn")),
        step({"get", "prox_noise"}, 5, "", FC + not_set("prox_noise")),
        step({"set", "prox_noise", "9"}, 0, "", FC, {{&CORE, noise}}, 3),
        step({"get", "prox_noise"}, 0, "9", FC + shown("prox_noise")),
        step({"set", "midwall_heat_pipe_sn", "MW-5"}, 0, "", FC,
             {{&CORE, with_item(noise, field("midwall_heat_pipe_sn", "MW-5"))}}, 4),
        step({"get", "midwall_heat_pipe_sn"}, 0, "MW-5", FC + shown("midwall_heat_pipe_sn")),
        step({"upgrade", "core"}, 0, "", FC + LATEST),
    });
}

TEST(RegionMaintenance, CoreUpgradedFromLayout4) {
    const bytes v4 = image_for(CORE, {field("unit_sn", "SN-4"), field("midwall_heat_pipe_sn", "MW-4")}, 4);
    const std::string FC = found("core");
    play({
        e2e_row{
            "start", {"upgrade", "core"}, 0, "", FC + invalidating("prox_noise") + upgrading("core", 4, 5)}
            .holding({{&CORE, v4}})
            .writing({{&CORE, upgraded_core(v4)}})
            .pwrite_calls(4),
        step({"get", "unit_sn"}, 0, "SN-4", FC + shown("unit_sn")),
        step({"get", "midwall_heat_pipe_sn"}, 0, "MW-4", FC + shown("midwall_heat_pipe_sn")),
        step({"get", "prox_noise"}, 5, "", FC + not_set("prox_noise")),
        step({"set", "prox_noise", "65535"}, 0, "", FC,
             {{&CORE, with_item(upgraded_core(v4), field("prox_noise", le16(65535)))}}, 3),
    });
}

}  // namespace
