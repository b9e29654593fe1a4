// Region images as the binary loads and stores them on an emulated headset:
// header checks and their order, layout sizes, valid markers, the lock, and
// the at24 attribute's transfer rules (one page per call, clamped at the end
// of the chip) with faults injected by the preload. After every command the
// chip bytes are compared with what must be there.
#include "headset_fixtures.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

std::string device_of(const region_spec &r) { return r.chip == 0 ? "1-0050" : "1-0051"; }
std::string found_in(const region_spec &r) { return found(r.name, device_of(r)); }
std::string uninit(const std::string &region) {
    return "EEPROM Uninitialized, run:\n\tvellum reset " + region + "\n";
}
const std::string MAGIC_MSG = "EEPROM has unexpected magic number, contact Client\n";
const std::string TOO_NEW = "Unsupported EEPROM version, upgrade vellum binary.\n";
const std::string NO_LAYOUT = "EEPROM version not supported, contact Client\n";
const std::string CORRUPT = "EEPROM Checksum Corrupt. run TODO\n";

// `pattern` with "%d" standing for an errno the test cannot predict.
bool like(const std::string &pattern, const std::string &actual) {
    size_t p = 0, a = 0;
    while (p < pattern.size()) {
        if (pattern.compare(p, 2, "%d") == 0) {
            size_t start = a;
            if (a < actual.size() && actual[a] == '-') a++;
            while (a < actual.size() && isdigit(static_cast<unsigned char>(actual[a]))) a++;
            if (a == start) return false;
            p += 2;
        } else if (a < actual.size() && pattern[p] == actual[a]) {
            p++, a++;
        } else {
            return false;
        }
    }
    return a == actual.size();
}

std::vector<uint8_t> patched(std::vector<uint8_t> image, size_t at, uint8_t byte) {
    image[at] = byte;
    return image;
}

std::vector<std::string> xfer_lines(const run_result &r) {
    std::vector<std::string> out;
    for (const std::string &l : r.calls)
        if (l.starts_with("pread ") || l.starts_with("pwrite ")) out.push_back(l);
    return out;
}

std::string call(const char *op, size_t count, long offset, const std::string &result) {
    return std::string(op) + " 1-0050 " + std::to_string(count) + " " + std::to_string(offset) +
           " -> " + result;
}

// ---------------------------------------------------------------------------

// Every check on the header, in its order, through a get and a set of an item
// of the region. A refused load leaves the chip as it was for both.
TEST(StoreHeader, LoadChecksRunInOrderAndRefuseReadAndWriteAlike) {
    auto core = [](uint32_t magic, uint32_t version, uint32_t size = 277) {
        return region_image(size, magic, version, 0xFF,
                            {{.offset = 24, .bytes = text_bytes("SN-0001", 14)}});
    };
    const uint32_t CM = CORE.magic;
    struct row {
        std::string what;
        const region_spec *r;
        std::vector<uint8_t> image;
        int status;
        std::string err;  // after the lookup line
        std::string out = "";
    };
    const row rows[] = {
        {"blank, all 0xFF", &CORE, std::vector<uint8_t>(277, 0xFF), 6, uninit("core")},
        {"blank, all 0x00", &CORE, std::vector<uint8_t>(277, 0x00), 6, uninit("core")},
        {"version 0xFFFFFFFF", &CORE, core(CM, 0xFFFFFFFF), 6, uninit("core")},
        {"version 0", &CORE, core(CM, 0), 6, uninit("core")},
        {"magic 0xFFFFFFFF", &CORE, core(0xFFFFFFFF, 5), 6, uninit("core")},
        {"magic 0", &CORE, core(0, 5), 6, uninit("core")},
        {"uninitialised before foreign", &CORE, core(0x12345678, 0xFFFFFFFF), 6, uninit("core")},
        {"another region's magic", &CORE, core(VRCAL.magic, 5), 5, MAGIC_MSG},
        {"foreign magic before too new", &CORE, core(0x12345678, 6), 5, MAGIC_MSG},
        {"version 6", &CORE, core(CM, 6), 10, TOO_NEW},
        {"version 0x80000000", &CORE, core(CM, 0x80000000), 10, TOO_NEW},
        {"version 2, not in the layout table", &CORE, core(CM, 2), 5, NO_LAYOUT},
        {"version 1", &CORE, core(CM, 1), 5, NO_LAYOUT},
        {"one value byte changed", &CORE, patched(core(CM, 5), 100, 0xFE), 5, CORRUPT},
        {"checksum byte changed", &CORE, patched(core(CM, 5), 275, core(CM, 5)[275] ^ 1), 5,
         CORRUPT},
        {"sealed at 274 bytes, header says 5", &CORE, core(CM, 5, 274), 5, CORRUPT},
        {"sealed at 277 bytes, header says 4", &CORE, core(CM, 4, 277), 5, CORRUPT},
        // Fletcher-16 sums modulo 255: 0x00 and 0xFF weigh the same.
        {"0x00 turned 0xFF is invisible to the checksum", &CORE,
         patched(region_image(277, CM, 5, 0xFF,
                              {{.offset = 24, .bytes = text_bytes("SN-0001", 14)}}, 0x00),
                 210, 0xFF),
         0, "unit_sn: \n", "SN-0001"},
        {"bootloader with the strap's magic", &BOOTLOADER, region_image(256, STRAP_GEN1.magic, 3), 5,
         MAGIC_MSG},
        {"vrcal blank", &VRCAL, std::vector<uint8_t>(6656, 0xFF), 6, uninit("vrcal")},
        {"strap at version 2", &STRAP_GEN1, region_image(327, STRAP_GEN1.magic, 2), 5, NO_LAYOUT},
        {"strap at version 4", &STRAP_GEN1, region_image(327, STRAP_GEN1.magic, 4), 10, TOO_NEW},
        {"first-generation strap with the second's magic", &STRAP_GEN1,
         region_image(327, STRAP_GEN2.magic, 1), 5, MAGIC_MSG},
    };
    for (const row &c : rows) {
        SCOPED_TRACE(c.what);
        emu_headset hs = headset(2, 1);
        write_chip(hs.chips[c.r->chip], c.r->offset, c.image);
        const std::vector<uint8_t> before = read_chip(hs.chips[c.r->chip]);
        const std::string item = c.r == &CORE ? "unit_sn" : c.r == &BOOTLOADER ? "board_revision"
                                 : c.r == &VRCAL ? "device_config" : "strap_sn";
        const std::string value = c.r == &VRCAL ? "/dev/null" : "NEW";
        expect_run({{"get", item}, c.status, c.out, found_in(*c.r) + c.err});
        if (c.status != 0) {
            run_result r = expect_run({{"set", item, value}, c.status, "", found_in(*c.r) + c.err});
            EXPECT_EQ(count_calls(r, "pwrite"), 0u);
        }
        EXPECT_EQ(read_chip(hs.chips[c.r->chip]), before);
    }
}

// The core region at each of its layouts: the image read and written is the
// size of the stored version, items outside it do not exist, the lock stops
// writes but not reads, and a write changes nothing but the item, its marker
// and the checksum.
TEST(StoreItems, LayoutVersionMarkersAndLockDecideItemAccess) {
    auto items_at = [](uint32_t v) {
        std::vector<image_item> items = {{.offset = 24, .bytes = text_bytes("SN-0001", 14)},
                                         {.offset = 237, .bytes = le16(7)}};
        if (v >= 4) items.push_back({.offset = 240, .bytes = text_bytes("MW-9", 31)});
        return items;
    };
    struct row {
        uint32_t version;
        uint8_t lock;
        std::vector<std::string> args;
        int status;
        std::string out, err;            // err after the lookup line
        std::vector<image_item> change;  // a successful set: the item's new bytes
        std::string then = "";           // and what a get shows afterwards
        std::vector<std::string> store = {};  // its calls after the load
    };
    auto wr = [](size_t n, long at) { return call("pwrite", n, at, std::to_string(n)); };
    auto rd = [](size_t n, long at) { return call("pread", n, at, std::to_string(n)); };
    auto label = [](const char *item) { return std::string(item) + ": \n"; };
    const row rows[] = {
        {5, 0xFF, {"get", "unit_sn"}, 0, "SN-0001", label("unit_sn"), {}},
        {4, 0xFF, {"get", "unit_sn"}, 0, "SN-0001", label("unit_sn"), {}},
        {3, 0xFF, {"get", "diplexer"}, 0, "7", label("diplexer"), {}},
        {4, 0xFF, {"get", "midwall_heat_pipe_sn"}, 0, "MW-9", label("midwall_heat_pipe_sn"), {}},
        {4, 0xFF, {"get", "prox_noise"}, 5, "", "cannot read prox_noise, eeprom version not supported!\n", {}},
        {4, 0xFF, {"set", "prox_noise", "1"}, 5, "", "cannot write prox_noise, eeprom version not supported!\n", {}},
        {3, 0xFF, {"get", "midwall_heat_pipe_sn"}, 5, "",
         "cannot read midwall_heat_pipe_sn, eeprom version not supported!\n", {}},
        {3, 0xFF, {"set", "midwall_heat_pipe_sn", "X"}, 5, "",
         "cannot write midwall_heat_pipe_sn, eeprom version not supported!\n", {}},
        {5, 0xFF, {"get", "prox_noise"}, 5, "", "prox_noise has not been set!\n", {}},
        {5, 0xFF, {"get", "mpcba_sn"}, 5, "", "mpcba_sn has not been set!\n", {}},
        {5, 0x00, {"set", "unit_sn", "NEW"}, 5, "", "cannot write unit_sn, eeprom locked!\n", {}},
        {5, 0x01, {"set", "unit_sn", "NEW"}, 5, "", "cannot write unit_sn, eeprom locked!\n", {}},
        {5, 0xFE, {"set", "prox_near", "1"}, 5, "", "cannot write prox_near, eeprom locked!\n", {}},
        {4, 0x00, {"set", "prox_noise", "1"}, 5, "", "cannot write prox_noise, eeprom locked!\n", {}},
        {3, 0x00, {"set", "midwall_heat_pipe_sn", "X"}, 5, "",
         "cannot write midwall_heat_pipe_sn, eeprom locked!\n", {}},
        {5, 0x00, {"get", "unit_sn"}, 0, "SN-0001", label("unit_sn"), {}},
        // A store: 0xFF 0xFF at the checksum, the bytes that differ ("NEW"
        // over "SN-0001": 7), the checksum, and what was written read back,
        // the checksum with the last run when both are in one 32-byte page.
        {5, 0xFF, {"set", "unit_sn", "NEW"}, 0, "", "",
         {{.offset = 24, .bytes = text_bytes("NEW", 14)}}, "NEW",
         {wr(2, 531), wr(7, 280), wr(2, 531), rd(7, 280), rd(2, 531)}},
        {4, 0xFF, {"set", "unit_sn", "NEW"}, 0, "", "",
         {{.offset = 24, .bytes = text_bytes("NEW", 14)}}, "NEW",
         {wr(2, 528), wr(7, 280), wr(2, 528), rd(7, 280), rd(2, 528)}},
        {3, 0xFF, {"set", "diplexer", "9"}, 0, "", "", {{.offset = 237, .bytes = le16(9)}}, "9",
         {wr(2, 496), wr(1, 493), wr(2, 496), rd(5, 493)}},
        // Value and marker new (the fill was 0x3C).
        {5, 0xFF, {"set", "prox_noise", "9"}, 0, "", "", {{.offset = 272, .bytes = le16(9)}}, "9",
         {wr(2, 531), wr(3, 528), wr(2, 531), rd(5, 528)}},
        {4, 0xFF, {"set", "midwall_heat_pipe_sn", "MW-10"}, 0, "", "",
         {{.offset = 240, .bytes = text_bytes("MW-10", 31)}}, "MW-10",
         {wr(2, 528), wr(2, 499), wr(2, 528), rd(2, 499), rd(2, 528)}},
        // The same value writes nothing and reads nothing back.
        {5, 0xFF, {"set", "unit_sn", "SN-0001"}, 0, "", "",
         {{.offset = 24, .bytes = text_bytes("SN-0001", 14)}}, "SN-0001", {}},
    };
    for (const row &c : rows) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1] + " at layout " + std::to_string(c.version));
        const uint32_t size = core_size(c.version);
        emu_headset hs = headset(2, 2);
        // Bytes behind a short image belong to no layout in force; they must
        // survive every store.
        write_chip(hs.chips[0], CORE.offset, std::vector<uint8_t>(CORE.size, 0x5A));
        // Unused bytes and unset markers hold 0x3C, so that a store that
        // rebuilt the image instead of writing back what it loaded shows.
        write_chip(hs.chips[0], CORE.offset,
                   region_image(size, CORE.magic, c.version, c.lock, items_at(c.version), 0x3C));
        const std::vector<uint8_t> before = read_chip(hs.chips[0]);

        run_result r = expect_run({c.args, c.status, c.out, found("core") + c.err});
        std::vector<std::string> expected_calls = {call("pread", 9, 256, "9"),
                                                   call("pread", size, 256, std::to_string(size))};
        const bool writes = c.status == 0 && c.args[0] == "set";
        expected_calls.insert(expected_calls.end(), c.store.begin(), c.store.end());
        EXPECT_EQ(xfer_lines(r), expected_calls);

        std::vector<uint8_t> after = before;
        if (writes) {
            std::vector<image_item> items = items_at(c.version);
            items.insert(items.end(), c.change.begin(), c.change.end());
            const std::vector<uint8_t> image =
                region_image(size, CORE.magic, c.version, c.lock, items, 0x3C);
            std::copy(image.begin(), image.end(), after.begin() + CORE.offset);
            expect_run({{"get", c.args[1]}, 0, c.then, found("core") + c.args[1] + ": \n"});
        }
        EXPECT_EQ(read_chip(hs.chips[0]), after);
    }
}

// Transfers under the attribute's rules and injected faults. The core region
// (277 bytes) fits one page; vrcal (6656 bytes from byte 1536) needs two.
TEST(StoreTransfers, PagesShortTransfersAndFailuresLeaveTheChipAsDescribed) {
    const std::string in = "/tmp/vellum-store-in-" + std::to_string(getpid()) + ".bin";
    const std::string out = "/tmp/vellum-store-out-" + std::to_string(getpid()) + ".bin";
    struct cleanup {
        const std::string &a, &b;
        ~cleanup() { std::remove(a.c_str()), std::remove(b.c_str()); }
    } files{in, out};
    std::vector<uint8_t> data(300);
    for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(i * 7 + 1);
    write_file(in, data);
    const std::vector<uint8_t> core_old =
        region_image(277, CORE.magic, 5, 0xFF, {{.offset = 24, .bytes = text_bytes("SN-0001", 14)}});
    const std::vector<uint8_t> core_new =
        region_image(277, CORE.magic, 5, 0xFF, {{.offset = 24, .bytes = text_bytes("NEW", 14)}});
    const std::vector<uint8_t> vrcal_old =
        region_image(6656, VRCAL.magic, 1, 0xFF, {{.offset = 9, .bytes = blob_field({'C', 'A', 'L'}, 2147)}});
    const std::vector<uint8_t> vrcal_new =
        region_image(6656, VRCAL.magic, 1, 0xFF, {{.offset = 9, .bytes = blob_field(data, 2147)}});
    const std::vector<uint8_t> vrcal_reset = region_image(6656, VRCAL.magic, 1);

    auto rd = [](size_t n, long at, const std::string &res) { return call("pread", n, at, res); };
    auto wr = [](size_t n, long at, const std::string &res) { return call("pwrite", n, at, res); };
    const std::string READ_DATA = "Read Data Failed on errno: ", WRITE = "EEPROM write failed on errno: ";
    const std::vector<std::string> get_sn = {"get", "unit_sn"}, set_sn = {"set", "unit_sn", "NEW"},
                                   same_sn = {"set", "unit_sn", "SN-0001"},
                                   get_cal = {"get", "device_config", out},
                                   set_cal = {"set", "device_config", in}, reset_cal = {"reset", "vrcal"};
    const std::string core_hdr = rd(9, 256, "9"), core_img = rd(277, 256, "277");
    const std::string cal_hdr = rd(9, 1536, "9"), cal_1 = rd(6656, 1536, "4096"),
                      cal_2 = rd(2560, 5632, "2560");
    const std::string guard = wr(2, 531, "2"), sum = guard, cal_guard = wr(2, 8190, "2"),
                      cal_sum = cal_guard;
    const std::string VERIFY = "EEPROM verify failed\n";
    const std::string sn_run = wr(7, 280, "7"), sn_back = rd(7, 280, "7"), sum_back = rd(2, 531, "2");
    // The 300 bytes over "CAL": the length and data, 302 bytes from byte 9.
    const std::string cal_run = wr(302, 1545, "302"), cal_back = rd(302, 1545, "302"),
                      cal_sum_back = rd(2, 8190, "2");
    struct outcome {
        int status;
        std::string out, err;
    };
    const outcome OLD = {0, "SN-0001", "unit_sn: \n"}, NEW = {0, "NEW", "unit_sn: \n"},
                  BROKEN = {5, "", CORRUPT}, SHORT = {2, "", READ_DATA + "%d\n"},
                  BLOB_OK = {7, "", "device_config set, specify filename to save\n"};
    struct row {
        std::string what;
        uint32_t chip_size;
        std::vector<std::string> env, args;
        int status;
        std::string out, err;  // err after the lookup line; %d: any errno
        std::vector<std::string> calls;
        const std::vector<uint8_t> *image;  // what the command stores
        long landed;                        // bytes of it on the chip afterwards, -1 all
        bool guarded;                       // 0xFF 0xFF left at its checksum
        outcome next;                       // a plain get of the item afterwards
    };
    const row rows[] = {
        {"core in one read", 8192, {}, get_sn, 0, "SN-0001", "unit_sn: \n", {core_hdr, core_img},
         nullptr, 0, false, OLD},
        {"short first read completed by a second", 8192, {"EMU_EEPROM_SHORT_READ=2:100"}, get_sn, 0,
         "SN-0001", "unit_sn: \n", {core_hdr, rd(277, 256, "100"), rd(177, 356, "177")}, nullptr, 0, false,
         OLD},
        {"no third read", 8192, {"EMU_EEPROM_SHORT_READ=2:100,3:50"}, get_sn, 2, "",
         READ_DATA + "%d\n", {core_hdr, rd(277, 256, "100"), rd(177, 356, "50")}, nullptr, 0, false, OLD},
        {"header read fails", 8192, {"EMU_EEPROM_FAIL_READ=1"}, get_sn, 2, "",
         "Read Header Failed on errno: 5\n", {rd(9, 256, "-1 EIO")}, nullptr, 0, false, OLD},
        {"header read fails, other errno", 8192, {"EMU_EEPROM_FAIL_READ=1:ENXIO"}, set_sn, 2, "",
         "Read Header Failed on errno: 6\n", {rd(9, 256, "-1 ENXIO")}, nullptr, 0, false, OLD},
        {"short header is not retried", 8192, {"EMU_EEPROM_SHORT_READ=1:8"}, get_sn, 2, "",
         "Read Header Failed on errno: %d\n", {rd(9, 256, "8")}, nullptr, 0, false, OLD},
        {"image read fails", 8192, {"EMU_EEPROM_FAIL_READ=2"}, set_sn, 2, "", READ_DATA + "5\n",
         {core_hdr, rd(277, 256, "-1 EIO")}, nullptr, 0, false, OLD},
        {"second image read fails", 8192, {"EMU_EEPROM_SHORT_READ=2:100", "EMU_EEPROM_FAIL_READ=3"},
         get_sn, 2, "", READ_DATA + "5\n", {core_hdr, rd(277, 256, "100"), rd(177, 356, "-1 EIO")},
         nullptr, 0, false, OLD},
        // A call interrupted by a signal moved nothing: it is made again,
        // and is not the one further call a short transfer may take.
        {"interrupted header read made again", 8192, {"EMU_EEPROM_FAIL_READ=1:EINTR"}, get_sn, 0,
         "SN-0001", "unit_sn: \n", {rd(9, 256, "-1 EINTR"), core_hdr, core_img}, nullptr, 0, false,
         OLD},
        {"interrupted after a short read", 8192,
         {"EMU_EEPROM_SHORT_READ=2:100", "EMU_EEPROM_FAIL_READ=3:EINTR"}, get_sn, 0, "SN-0001",
         "unit_sn: \n",
         {core_hdr, rd(277, 256, "100"), rd(177, 356, "-1 EINTR"), rd(177, 356, "177")}, nullptr, 0,
         false, OLD},
        {"interrupted image read and write", 8192,
         {"EMU_EEPROM_FAIL_READ=2:EINTR", "EMU_EEPROM_FAIL_WRITE=2:EINTR"}, set_sn, 0, "", "",
         {core_hdr, rd(277, 256, "-1 EINTR"), core_img, guard, wr(7, 280, "-1 EINTR"), sn_run, sum,
          sn_back, sum_back},
         &core_new, -1, false, NEW},
        // A store: guard bytes 0xFF 0xFF at the checksum, the bytes of the
        // image that differ ("NEW" over "SN-0001": 7 from byte 24), the
        // checksum, what was written read back. Every cut before the
        // checksum leaves the guard, so the region fails to load.
        {"core stored and read back", 8192, {}, set_sn, 0, "", "",
         {core_hdr, core_img, guard, sn_run, sum, sn_back, sum_back}, &core_new, -1, false, NEW},
        {"short write completed by a second", 8192, {"EMU_EEPROM_SHORT_WRITE=2:3"}, set_sn, 0, "",
         "", {core_hdr, core_img, guard, wr(7, 280, "3"), wr(4, 283, "4"), sum, sn_back, sum_back},
         &core_new, -1, false, NEW},
        {"no third write: half a value behind the guard", 8192,
         {"EMU_EEPROM_SHORT_WRITE=2:3,3:2"}, set_sn, 3, "", WRITE + "%d\n",
         {core_hdr, core_img, guard, wr(7, 280, "3"), wr(4, 283, "2")}, &core_new, 29, true,
         BROKEN},
        {"guard write fails", 8192, {"EMU_EEPROM_FAIL_WRITE=1"}, set_sn, 3, "", WRITE + "5\n",
         {core_hdr, core_img, wr(2, 531, "-1 EIO")}, &core_new, 0, false, OLD},
        {"value write fails after the guard", 8192, {"EMU_EEPROM_FAIL_WRITE=2"}, set_sn, 3, "",
         WRITE + "5\n", {core_hdr, core_img, guard, wr(7, 280, "-1 EIO")}, &core_new, 0, true,
         BROKEN},
        {"second call fails after part of the serial landed", 8192,
         {"EMU_EEPROM_SHORT_WRITE=2:3", "EMU_EEPROM_FAIL_WRITE=3"}, set_sn, 3, "", WRITE + "5\n",
         {core_hdr, core_img, guard, wr(7, 280, "3"), wr(4, 283, "-1 EIO")}, &core_new, 27, true,
         BROKEN},
        {"checksum write fails: the whole image, still guarded", 8192, {"EMU_EEPROM_FAIL_WRITE=3"},
         set_sn, 3, "", WRITE + "5\n", {core_hdr, core_img, guard, sn_run, wr(2, 531, "-1 EIO")},
         &core_new, 275, true, BROKEN},
        {"short checksum write completed by a second", 8192, {"EMU_EEPROM_SHORT_WRITE=3:1"}, set_sn,
         0, "", "", {core_hdr, core_img, guard, sn_run, wr(2, 531, "1"), wr(1, 532, "1"), sn_back,
         sum_back}, &core_new, -1, false, NEW},
        // The store reached the chip; only the read that confirms it failed.
        {"read back fails", 8192, {"EMU_EEPROM_FAIL_READ=3"}, set_sn, 3, "", VERIFY,
         {core_hdr, core_img, guard, sn_run, sum, rd(7, 280, "-1 EIO")}, &core_new, -1, false, NEW},
        {"read back short twice", 8192, {"EMU_EEPROM_SHORT_READ=3:3,4:2"}, set_sn, 3, "", VERIFY,
         {core_hdr, core_img, guard, sn_run, sum, rd(7, 280, "3"), rd(4, 283, "2")}, &core_new, -1,
         false, NEW},
        {"write-protected chip: acknowledged, kept", 8192, {"EMU_EEPROM_WRITE_PROTECT=1"}, set_sn, 3,
         "", VERIFY, {core_hdr, core_img, guard, sn_run, sum, sn_back}, nullptr, 0, false, OLD},
        // The same value on a write-protected chip: nothing to write, so
        // nothing fails.
        {"write-protected chip, same value", 8192, {"EMU_EEPROM_WRITE_PROTECT=1"}, same_sn, 0, "",
         "", {core_hdr, core_img}, nullptr, 0, false, OLD},
        {"vrcal in two page reads", 8192, {}, get_cal, 0, "", "device_config: " + out + " written\n",
         {cal_hdr, cal_1, cal_2}, nullptr, 0, false, BLOB_OK},
        {"vrcal under 1000-byte pages", 8192, {"EMU_EEPROM_PAGE_SIZE=1000"}, get_cal, 2, "",
         READ_DATA + "%d\n", {cal_hdr, rd(6656, 1536, "1000"), rd(5656, 2536, "1000")}, nullptr, 0, false,
         BLOB_OK},
        {"vrcal second page read fails", 8192, {"EMU_EEPROM_FAIL_READ=3"}, get_cal, 2, "",
         READ_DATA + "5\n", {cal_hdr, cal_1, rd(2560, 5632, "-1 EIO")}, nullptr, 0, false, BLOB_OK},
        {"vrcal blob stored: only its bytes", 8192, {}, set_cal, 0, "", "",
         {cal_hdr, cal_1, cal_2, cal_guard, cal_run, cal_sum, cal_back, cal_sum_back}, &vrcal_new, -1,
         false, BLOB_OK},
        {"vrcal checksum write fails", 8192, {"EMU_EEPROM_FAIL_WRITE=3"}, set_cal, 3, "",
         WRITE + "5\n", {cal_hdr, cal_1, cal_2, cal_guard, cal_run, wr(2, 8190, "-1 EIO")},
         &vrcal_new, 311, true, BROKEN},
        {"vrcal write under 100-byte calls", 8192, {"EMU_EEPROM_SHORT_WRITE=2:100,3:100"}, set_cal,
         3, "", WRITE + "%d\n",
         {cal_hdr, cal_1, cal_2, cal_guard, wr(302, 1545, "100"), wr(202, 1645, "100")},
         &vrcal_new, 209, true, BROKEN},
        // Reset reads first; a read that fails leaves the chip unknown, and
        // the whole image is written.
        {"vrcal reset under 1000-byte pages", 8192, {"EMU_EEPROM_PAGE_SIZE=1000"}, reset_cal, 3, "",
         " Reseting vrcal\n" + WRITE + "%d\n",
         {rd(6656, 1536, "1000"), rd(5656, 2536, "1000"), cal_guard, wr(6654, 1536, "1000"),
          wr(5654, 2536, "1000")},
         &vrcal_reset, 2000, true, BROKEN},
        // A 4096-byte core chip: vrcal runs 2560 bytes past its end.
        {"vrcal beyond a small chip, read", 4096, {}, get_cal, 2, "", READ_DATA + "%d\n",
         {cal_hdr, rd(6656, 1536, "2560"), rd(4096, 4096, "0")}, nullptr, 0, false, SHORT},
        {"vrcal beyond a small chip, reset", 4096, {}, reset_cal, 3, "",
         " Reseting vrcal\n" + WRITE + "27\n",
         {rd(6656, 1536, "2560"), rd(4096, 4096, "0"), wr(2, 8190, "-1 EFBIG")}, &vrcal_reset, 0,
         false, SHORT},
        {"core on a small chip", 4096, {}, get_sn, 0, "SN-0001", "unit_sn: \n", {core_hdr, core_img},
         nullptr, 0, false, OLD},
    };
    for (const row &c : rows) {
        SCOPED_TRACE(c.what);
        std::remove(out.c_str());
        emu_headset hs = emu_standard_headset();
        hs.chips[0].size = c.chip_size;
        ASSERT_TRUE(mount_headset(hs));
        write_chip(hs.chips[0], CORE.offset, core_old);
        const size_t room = c.chip_size - VRCAL.offset;
        write_chip(hs.chips[0], VRCAL.offset,
                   std::vector<uint8_t>(vrcal_old.begin(),
                                        vrcal_old.begin() + std::min(room, vrcal_old.size())));
        const region_spec &r = c.args[1].starts_with("unit") ? CORE : VRCAL;
        std::vector<uint8_t> expected = read_chip(hs.chips[0]);

        run_result res = run_vellum(c.args, c.env);
        EXPECT_EQ(res.signal, 0);
        EXPECT_EQ(res.status, c.status);
        EXPECT_EQ(res.out, c.out);
        EXPECT_TRUE(like(found_in(r) + c.err, res.err)) << res.err;
        EXPECT_EQ(xfer_lines(res), c.calls);

        if (c.image) {
            const size_t n = c.landed < 0 ? c.image->size() : static_cast<size_t>(c.landed);
            for (size_t i = 0; i < n && r.offset + i < expected.size(); i++)
                expected[r.offset + i] = (*c.image)[i];
            for (size_t i = c.image->size() - 2; c.guarded && i < c.image->size(); i++)
                expected[r.offset + i] = 0xFF;
        }
        EXPECT_EQ(read_chip(hs.chips[0]), expected);
        if (c.status == 0 && c.args == get_cal) {
            EXPECT_EQ(read_file(out), (std::vector<uint8_t>{'C', 'A', 'L'}));
        }

        run_result next = run_vellum({"get", &r == &CORE ? "unit_sn" : "device_config"});
        EXPECT_EQ(next.status, c.next.status);
        EXPECT_EQ(next.out, c.next.out);
        EXPECT_TRUE(like(found_in(r) + c.next.err, next.err)) << next.err;
    }
}

}  // namespace
