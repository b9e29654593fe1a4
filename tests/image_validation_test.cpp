// What makes a stored region image valid, as the binary loads it: the
// checksum, the header checks in their order, the layout sizes, the valid
// markers and the lock; and the bytes and transfers a store of an item makes.
// A refused load leaves the chip as it was for a get and a set alike.
#include <cstring>

#include "eeprom_common.h"
#include "end_to_end.h"

namespace {

uint16_t checksum_of(const std::string &s) {
    return eeprom_checksum(reinterpret_cast<const uint8_t *>(s.data()), static_cast<uint32_t>(s.size()));
}

TEST(Checksum, MatchesPublishedFletcher16Vectors) {
    EXPECT_EQ(checksum_of(""), 0x0000);
    EXPECT_EQ(checksum_of("abc"), 0x4C27);
    EXPECT_EQ(checksum_of("abcde"), 0xC8F0);
    EXPECT_EQ(checksum_of("abcdef"), 0x2057);
    EXPECT_EQ(checksum_of("abcdefgh"), 0x0627);
}

TEST(Checksum, SumsAreTakenModulo255) {
    // 0x00 and 0xFF are the same modulo 255, so a blank chip's bytes and a
    // zeroed chip's bytes checksum alike; any other change shows.
    uint8_t zeros[64] = {};
    uint8_t ones[64];
    memset(ones, 0xFF, sizeof ones);
    EXPECT_EQ(eeprom_checksum(zeros, sizeof zeros), eeprom_checksum(ones, sizeof ones));
    zeros[10] = 1;
    EXPECT_NE(eeprom_checksum(zeros, sizeof zeros), eeprom_checksum(ones, sizeof ones));
    // Long runs must not overflow the sums.
    static uint8_t big[6656];
    memset(big, 0xFE, sizeof big);
    const uint16_t sum = eeprom_checksum(big, sizeof big);
    EXPECT_LT(sum & 0xFF, 255);
    EXPECT_LT(sum >> 8, 255);
}

TEST(LayoutSize, FindsOnlyListedVersions) {
    const eeprom_layout_t layouts[] = {{3, 242}, {4, 274}, {5, 277}, {-1, -1}};
    EXPECT_EQ(eeprom_layout_size(layouts, 3), 242);
    EXPECT_EQ(eeprom_layout_size(layouts, 4), 274);
    EXPECT_EQ(eeprom_layout_size(layouts, 5), 277);
    for (uint32_t missing : {0u, 1u, 2u, 6u, 0xFFFFFFFFu})
        EXPECT_EQ(eeprom_layout_size(layouts, missing), -1) << missing;
    const eeprom_layout_t gap[] = {{1, 100}, {3, 120}, {-1, -1}};
    EXPECT_EQ(eeprom_layout_size(gap, 2), -1);
    // The terminator never matches, even asked for its own version.
    EXPECT_EQ(eeprom_layout_size(gap, static_cast<uint32_t>(-1)), -1);
}

bytes patched(bytes image, size_t at, uint8_t byte) {
    image[at] = byte;
    return image;
}

// Every check on the header, in its order, through a get and a set of an
// item of the region.
TEST(ImageValidation, LoadChecksRunInOrderAndRefuseReadAndWriteAlike) {
    const std::vector<image_item> sn = {field("unit_sn", "SN-0001")};
    auto core = [&](uint32_t magic, uint32_t version, uint32_t size = 277) {
        return region_image(size, magic, version, 0xFF, sn);
    };
    const uint32_t CM = CORE.magic;
    // A get of an item of the region, then a set of it when the load fails.
    const auto load = [](const char *what, const region_fact *r, const bytes &image, int status,
                         const std::string &err, const std::string &out = "") {
        const std::string item = r == &CORE         ? "unit_sn"
                                 : r == &BOOTLOADER ? "board_revision"
                                 : r == &VRCAL      ? "device_config"
                                                    : "strap_sn";
        e2e_row get = e2e_row{what, {"get", item}, status, out, found(*r) + err}.on(2, 1).holding({{r, image}});
        if (status == 0) return get;
        return get.followed_by(e2e_row{std::string(what) + ", set",
                                       {"set", item, r == &VRCAL ? "/dev/null" : "NEW"}, status, "",
                                       found(*r) + err}
                                   .pwrite_calls(0));
    };
    play({
        load("blank, all 0xFF", &CORE, bytes(277, 0xFF), 6, uninit("core")),
        load("blank, all 0x00", &CORE, bytes(277, 0x00), 6, uninit("core")),
        load("version 0xFFFFFFFF", &CORE, core(CM, 0xFFFFFFFF), 6, uninit("core")),
        load("version 0", &CORE, core(CM, 0), 6, uninit("core")),
        load("magic 0xFFFFFFFF", &CORE, core(0xFFFFFFFF, 5), 6, uninit("core")),
        load("magic 0", &CORE, core(0, 5), 6, uninit("core")),
        load("uninitialised before foreign", &CORE, core(0x12345678, 0xFFFFFFFF), 6, uninit("core")),
        load("another region's magic", &CORE, core(VRCAL.magic, 5), 5, MAGIC),
        load("foreign magic before too new", &CORE, core(0x12345678, 6), 5, MAGIC),
        load("version 6", &CORE, core(CM, 6), 10, TOO_NEW),
        load("version 0x80000000", &CORE, core(CM, 0x80000000), 10, TOO_NEW),
        load("version 2, not in the layout table", &CORE, core(CM, 2), 5, NO_LAYOUT),
        load("version 1", &CORE, core(CM, 1), 5, NO_LAYOUT),
        load("one value byte changed", &CORE, patched(core(CM, 5), 100, 0xFE), 5, CHECKSUM),
        load("checksum byte changed", &CORE, patched(core(CM, 5), 275, core(CM, 5)[275] ^ 1), 5, CHECKSUM),
        load("sealed at 274 bytes, header says 5", &CORE, core(CM, 5, 274), 5, CHECKSUM),
        load("sealed at 277 bytes, header says 4", &CORE, core(CM, 4, 277), 5, CHECKSUM),
        // Fletcher-16 sums modulo 255: 0x00 and 0xFF weigh the same.
        load("0x00 turned 0xFF is invisible to the checksum", &CORE,
             patched(region_image(277, CM, 5, 0xFF, sn, 0x00), 210, 0xFF), 0, shown("unit_sn"), "SN-0001"),
        load("bootloader with the strap's magic", &BOOTLOADER, region_image(256, STRAP_GEN1.magic, 3), 5, MAGIC),
        load("vrcal blank", &VRCAL, bytes(6656, 0xFF), 6, uninit("vrcal")),
        load("strap at version 2", &STRAP_GEN1, region_image(327, STRAP_GEN1.magic, 2), 5, NO_LAYOUT),
        load("strap at version 4", &STRAP_GEN1, region_image(327, STRAP_GEN1.magic, 4), 10, TOO_NEW),
        load("first-generation strap with the second's magic", &STRAP_GEN1,
             region_image(327, STRAP_GEN2.magic, 1), 5, MAGIC),
    });
}

// The core region at each of its layouts: the image read and written is the
// size of the stored version, items outside it do not exist, the lock stops
// writes but not reads, and a write changes nothing but the item, its marker
// and the checksum.
TEST(ImageValidation, LayoutVersionMarkersAndLockDecideItemAccess) {
    auto items_at = [](uint32_t v) {
        std::vector<image_item> items = {field("unit_sn", "SN-0001"), field("diplexer", le16(7))};
        if (v >= 4) items.push_back(field("midwall_heat_pipe_sn", "MW-9"));
        return items;
    };
    const auto cannot = [](const char *op, const char *item) { return not_in_layout(op, item); };
    // A run on the core region at layout `version` with lock byte `lock`:
    // it reads the header and the image of that layout's size, then makes
    // the store's calls. A successful set writes `change` into the image
    // and a get then shows `then`.
    const auto at = [&](uint32_t version, uint8_t lock, std::vector<std::string> args, int status,
                        const std::string &out, const std::string &err, std::vector<image_item> change = {},
                        const std::string &then = "", const std::vector<std::string> &store = {}) {
        const std::string what = args[0] + " " + args[1] + " at layout " + std::to_string(version);
        std::vector<std::string> calls = {rd(9, 256), rd(CORE.size(version), 256)};
        calls.insert(calls.end(), store.begin(), store.end());
        // Bytes behind a short image belong to no layout in force; they must
        // survive every store. Unused bytes and unset markers hold 0x3C, so
        // that a store that rebuilt the image instead of writing back what
        // it loaded shows.
        e2e_row run = e2e_row{what, args, status, out, found("core") + err}
                          .holding({{&CORE, bytes(CORE.size(), 0x5A)},
                                    {&CORE, image_for(CORE, items_at(version), version, lock, 0x3C)}})
                          .transfers_are(calls);
        if (status != 0 || args[0] != "set") return run;
        std::vector<image_item> items = items_at(version);
        items.insert(items.end(), change.begin(), change.end());
        return run.writing({{&CORE, image_for(CORE, items, version, lock, 0x3C)}})
            .followed_by({what + ", read back", {"get", args[1]}, 0, then, found("core") + shown(args[1])});
    };
    play({
        at(5, 0xFF, {"get", "unit_sn"}, 0, "SN-0001", shown("unit_sn")),
        at(4, 0xFF, {"get", "unit_sn"}, 0, "SN-0001", shown("unit_sn")),
        at(3, 0xFF, {"get", "diplexer"}, 0, "7", shown("diplexer")),
        at(4, 0xFF, {"get", "midwall_heat_pipe_sn"}, 0, "MW-9", shown("midwall_heat_pipe_sn")),
        at(4, 0xFF, {"get", "prox_noise"}, 5, "", cannot("read", "prox_noise")),
        at(4, 0xFF, {"set", "prox_noise", "1"}, 5, "", cannot("write", "prox_noise")),
        at(3, 0xFF, {"get", "midwall_heat_pipe_sn"}, 5, "", cannot("read", "midwall_heat_pipe_sn")),
        at(3, 0xFF, {"set", "midwall_heat_pipe_sn", "X"}, 5, "", cannot("write", "midwall_heat_pipe_sn")),
        at(5, 0xFF, {"get", "prox_noise"}, 5, "", not_set("prox_noise")),
        at(5, 0xFF, {"get", "mpcba_sn"}, 5, "", not_set("mpcba_sn")),
        at(5, 0x00, {"set", "unit_sn", "NEW"}, 5, "", locked("unit_sn")),
        at(5, 0x01, {"set", "unit_sn", "NEW"}, 5, "", locked("unit_sn")),
        at(5, 0xFE, {"set", "prox_near", "1"}, 5, "", locked("prox_near")),
        at(4, 0x00, {"set", "prox_noise", "1"}, 5, "", locked("prox_noise")),
        at(3, 0x00, {"set", "midwall_heat_pipe_sn", "X"}, 5, "", locked("midwall_heat_pipe_sn")),
        at(5, 0x00, {"get", "unit_sn"}, 0, "SN-0001", shown("unit_sn")),
        // A store: 0xFF 0xFF at the checksum, the bytes that differ ("NEW"
        // over "SN-0001": 7), the checksum, and what was written read back,
        // the checksum with the last run when both are in one 32-byte page.
        at(5, 0xFF, {"set", "unit_sn", "NEW"}, 0, "", "", {field("unit_sn", "NEW")}, "NEW",
           {wr(2, 531), wr(7, 280), wr(2, 531), rd(7, 280), rd(2, 531)}),
        at(4, 0xFF, {"set", "unit_sn", "NEW"}, 0, "", "", {field("unit_sn", "NEW")}, "NEW",
           {wr(2, 528), wr(7, 280), wr(2, 528), rd(7, 280), rd(2, 528)}),
        at(3, 0xFF, {"set", "diplexer", "9"}, 0, "", "", {field("diplexer", le16(9))}, "9",
           {wr(2, 496), wr(1, 493), wr(2, 496), rd(5, 493)}),
        // Value and marker new (the fill was 0x3C).
        at(5, 0xFF, {"set", "prox_noise", "9"}, 0, "", "", {field("prox_noise", le16(9))}, "9",
           {wr(2, 531), wr(3, 528), wr(2, 531), rd(5, 528)}),
        at(4, 0xFF, {"set", "midwall_heat_pipe_sn", "MW-10"}, 0, "", "", {field("midwall_heat_pipe_sn", "MW-10")},
           "MW-10", {wr(2, 528), wr(2, 499), wr(2, 528), rd(2, 499), rd(2, 528)}),
        // The same value writes nothing and reads nothing back.
        at(5, 0xFF, {"set", "unit_sn", "SN-0001"}, 0, "", "", {field("unit_sn", "SN-0001")}, "SN-0001"),
    });
}

}  // namespace
