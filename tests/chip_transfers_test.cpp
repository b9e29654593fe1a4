// Transfers under the eeprom attribute's rules (one page per call, clamped
// at the end of the chip) with faults injected by the preload: what each
// command reads and writes, in which order, and what a failure at any call
// leaves on the chip. The core region (277 bytes) fits one page; vrcal (6656
// bytes from byte 1536) needs two.
#include <algorithm>

#include "end_to_end.h"

namespace {

std::string rd(size_t n, long at, const std::string &result) { return xfer("pread", n, at, result); }
std::string wr(size_t n, long at, const std::string &result) { return xfer("pwrite", n, at, result); }

TEST(ChipTransfers, PagesShortTransfersAndFailuresLeaveTheChipAsDescribed) {
    const bytes data = [] {
        bytes d(300);
        for (size_t i = 0; i < d.size(); i++) d[i] = static_cast<uint8_t>(i * 7 + 1);
        return d;
    }();
    const bytes core_old = image_for(CORE, {field("unit_sn", "SN-0001")});
    const bytes core_new = image_for(CORE, {field("unit_sn", "NEW")});
    const bytes vrcal_old = image_for(VRCAL, {blob("device_config", text("CAL"))});
    const bytes vrcal_new = image_for(VRCAL, {blob("device_config", data)});
    const bytes vrcal_reset = image_for(VRCAL);

    using words = std::vector<std::string>;
    const words get_sn = {"get", "unit_sn"}, set_sn = {"set", "unit_sn", "NEW"},
                same_sn = {"set", "unit_sn", "SN-0001"}, get_cal = {"get", "device_config", "%D/out.bin"},
                set_cal = {"set", "device_config", "%D/in.bin"}, reset_cal = {"reset", "vrcal"};
    const std::string core_hdr = rd(9, 256, "9"), core_img = rd(277, 256, "277");
    const std::string cal_hdr = rd(9, 1536, "9"), cal_1 = rd(6656, 1536, "4096"), cal_2 = rd(2560, 5632, "2560");
    const std::string guard = wr(2, 531, "2"), sum = guard, cal_guard = wr(2, 8190, "2"), cal_sum = cal_guard;
    const std::string sn_run = wr(7, 280, "7"), sn_back = rd(7, 280, "7"), sum_back = rd(2, 531, "2");
    // The 300 bytes over "CAL": the length and data, 302 bytes from byte 9.
    const std::string cal_run = wr(302, 1545, "302"), cal_back = rd(302, 1545, "302"),
                      cal_sum_back = rd(2, 8190, "2");
    const std::string WRITE = WRITE_ERRNO, FC = found("core"), FV = found("vrcal");
    // What a store leaves: the first `n` bytes of the image it writes (-1:
    // all, as far as the chip reaches), and 0xFF 0xFF at its checksum while
    // guarded.
    const auto landed = [](const region_fact &r, const bytes &image, long n, bool guarded,
                           uint32_t chip_size = 8192) {
        const size_t room = chip_size - r.offset;
        std::vector<placed> out = {{&r, image}};
        out[0].data.resize(std::min(room, n < 0 ? image.size() : static_cast<size_t>(n)));
        if (guarded) out.push_back({&r, {0xFF, 0xFF}, static_cast<uint32_t>(image.size() - 2)});
        return out;
    };
    // A plain get of the item afterwards.
    const auto then_sn = [&](int status, const std::string &out, const std::string &err) {
        return e2e_row{"then a get", get_sn, status, out, FC + err};
    };
    const auto then_cal = [&](int status, const std::string &err) {
        return e2e_row{"then a get", {"get", "device_config"}, status, "", FV + err};
    };
    const e2e_row OLD = then_sn(0, "SN-0001", shown("unit_sn")), NEW = then_sn(0, "NEW", shown("unit_sn")),
                  BROKEN = then_sn(5, "", CHECKSUM), CAL_OK = then_cal(7, blob_is_set("device_config")),
                  CAL_BROKEN = then_cal(5, CHECKSUM), CAL_SHORT = then_cal(2, READ_DATA + "%d\n");
    emu_headset small = emu_standard_headset();  // a 4096-byte core chip: vrcal runs 2560 bytes past its end
    small.chips[0].size = 4096;
    std::vector<e2e_row> rows = {
        e2e_row{"core in one read", get_sn, 0, "SN-0001", FC + shown("unit_sn")}
            .transfers_are({core_hdr, core_img}).followed_by(OLD),
        e2e_row{"short first read completed by a second", get_sn, 0, "SN-0001", FC + shown("unit_sn")}
            .under({"EMU_EEPROM_SHORT_READ=2:100"})
            .transfers_are({core_hdr, rd(277, 256, "100"), rd(177, 356, "177")}).followed_by(OLD),
        e2e_row{"no third read", get_sn, 2, "", FC + READ_DATA + "%d\n"}
            .under({"EMU_EEPROM_SHORT_READ=2:100,3:50"})
            .transfers_are({core_hdr, rd(277, 256, "100"), rd(177, 356, "50")}).followed_by(OLD),
        e2e_row{"header read fails", get_sn, 2, "", FC + READ_HEADER + "5\n"}
            .under({"EMU_EEPROM_FAIL_READ=1"}).transfers_are({rd(9, 256, "-1 EIO")}).followed_by(OLD),
        e2e_row{"header read fails, other errno", set_sn, 2, "", FC + READ_HEADER + "6\n"}
            .under({"EMU_EEPROM_FAIL_READ=1:ENXIO"}).transfers_are({rd(9, 256, "-1 ENXIO")}).followed_by(OLD),
        e2e_row{"short header is not retried", get_sn, 2, "", FC + READ_HEADER + "%d\n"}
            .under({"EMU_EEPROM_SHORT_READ=1:8"}).transfers_are({rd(9, 256, "8")}).followed_by(OLD),
        e2e_row{"image read fails", set_sn, 2, "", FC + READ_DATA + "5\n"}
            .under({"EMU_EEPROM_FAIL_READ=2"}).transfers_are({core_hdr, rd(277, 256, "-1 EIO")}).followed_by(OLD),
        e2e_row{"second image read fails", get_sn, 2, "", FC + READ_DATA + "5\n"}
            .under({"EMU_EEPROM_SHORT_READ=2:100", "EMU_EEPROM_FAIL_READ=3"})
            .transfers_are({core_hdr, rd(277, 256, "100"), rd(177, 356, "-1 EIO")}).followed_by(OLD),
        // A call interrupted by a signal moved nothing: it is made again,
        // and is not the one further call a short transfer may take.
        e2e_row{"interrupted header read made again", get_sn, 0, "SN-0001", FC + shown("unit_sn")}
            .under({"EMU_EEPROM_FAIL_READ=1:EINTR"})
            .transfers_are({rd(9, 256, "-1 EINTR"), core_hdr, core_img}).followed_by(OLD),
        e2e_row{"interrupted after a short read", get_sn, 0, "SN-0001", FC + shown("unit_sn")}
            .under({"EMU_EEPROM_SHORT_READ=2:100", "EMU_EEPROM_FAIL_READ=3:EINTR"})
            .transfers_are({core_hdr, rd(277, 256, "100"), rd(177, 356, "-1 EINTR"), rd(177, 356, "177")})
            .followed_by(OLD),
        e2e_row{"interrupted image read and write", set_sn, 0, "", FC}
            .under({"EMU_EEPROM_FAIL_READ=2:EINTR", "EMU_EEPROM_FAIL_WRITE=2:EINTR"})
            .transfers_are({core_hdr, rd(277, 256, "-1 EINTR"), core_img, guard, wr(7, 280, "-1 EINTR"), sn_run,
                            sum, sn_back, sum_back})
            .writing(landed(CORE, core_new, -1, false)).followed_by(NEW),
        // A store: guard bytes 0xFF 0xFF at the checksum, the bytes of the
        // image that differ ("NEW" over "SN-0001": 7 from byte 24), the
        // checksum, what was written read back. Every cut before the
        // checksum leaves the guard, so the region fails to load.
        e2e_row{"core stored and read back", set_sn, 0, "", FC}
            .transfers_are({core_hdr, core_img, guard, sn_run, sum, sn_back, sum_back})
            .writing(landed(CORE, core_new, -1, false)).followed_by(NEW),
        e2e_row{"short write completed by a second", set_sn, 0, "", FC}
            .under({"EMU_EEPROM_SHORT_WRITE=2:3"})
            .transfers_are({core_hdr, core_img, guard, wr(7, 280, "3"), wr(4, 283, "4"), sum, sn_back, sum_back})
            .writing(landed(CORE, core_new, -1, false)).followed_by(NEW),
        e2e_row{"no third write: half a value behind the guard", set_sn, 3, "", FC + WRITE + "%d\n"}
            .under({"EMU_EEPROM_SHORT_WRITE=2:3,3:2"})
            .transfers_are({core_hdr, core_img, guard, wr(7, 280, "3"), wr(4, 283, "2")})
            .writing(landed(CORE, core_new, 29, true)).followed_by(BROKEN),
        e2e_row{"guard write fails", set_sn, 3, "", FC + WRITE + "5\n"}
            .under({"EMU_EEPROM_FAIL_WRITE=1"}).transfers_are({core_hdr, core_img, wr(2, 531, "-1 EIO")})
            .followed_by(OLD),
        e2e_row{"value write fails after the guard", set_sn, 3, "", FC + WRITE + "5\n"}
            .under({"EMU_EEPROM_FAIL_WRITE=2"}).transfers_are({core_hdr, core_img, guard, wr(7, 280, "-1 EIO")})
            .writing(landed(CORE, core_new, 0, true)).followed_by(BROKEN),
        e2e_row{"second call fails after part of the serial landed", set_sn, 3, "", FC + WRITE + "5\n"}
            .under({"EMU_EEPROM_SHORT_WRITE=2:3", "EMU_EEPROM_FAIL_WRITE=3"})
            .transfers_are({core_hdr, core_img, guard, wr(7, 280, "3"), wr(4, 283, "-1 EIO")})
            .writing(landed(CORE, core_new, 27, true)).followed_by(BROKEN),
        e2e_row{"checksum write fails: the whole image, still guarded", set_sn, 3, "", FC + WRITE + "5\n"}
            .under({"EMU_EEPROM_FAIL_WRITE=3"})
            .transfers_are({core_hdr, core_img, guard, sn_run, wr(2, 531, "-1 EIO")})
            .writing(landed(CORE, core_new, 275, true)).followed_by(BROKEN),
        e2e_row{"short checksum write completed by a second", set_sn, 0, "", FC}
            .under({"EMU_EEPROM_SHORT_WRITE=3:1"})
            .transfers_are({core_hdr, core_img, guard, sn_run, wr(2, 531, "1"), wr(1, 532, "1"), sn_back, sum_back})
            .writing(landed(CORE, core_new, -1, false)).followed_by(NEW),
        // The store reached the chip; only the read that confirms it failed.
        e2e_row{"read back fails", set_sn, 3, "", FC + VERIFY_FAILED}
            .under({"EMU_EEPROM_FAIL_READ=3"})
            .transfers_are({core_hdr, core_img, guard, sn_run, sum, rd(7, 280, "-1 EIO")})
            .writing(landed(CORE, core_new, -1, false)).followed_by(NEW),
        e2e_row{"read back short twice", set_sn, 3, "", FC + VERIFY_FAILED}
            .under({"EMU_EEPROM_SHORT_READ=3:3,4:2"})
            .transfers_are({core_hdr, core_img, guard, sn_run, sum, rd(7, 280, "3"), rd(4, 283, "2")})
            .writing(landed(CORE, core_new, -1, false)).followed_by(NEW),
        e2e_row{"write-protected chip: acknowledged, kept", set_sn, 3, "", FC + VERIFY_FAILED}
            .under({"EMU_EEPROM_WRITE_PROTECT=1"})
            .transfers_are({core_hdr, core_img, guard, sn_run, sum, sn_back}).followed_by(OLD),
        // The same value on a write-protected chip: nothing to write, so
        // nothing fails.
        e2e_row{"write-protected chip, same value", same_sn, 0, "", FC}
            .under({"EMU_EEPROM_WRITE_PROTECT=1"}).transfers_are({core_hdr, core_img}).followed_by(OLD),
        e2e_row{"vrcal in two page reads", get_cal, 0, "", FV + written("device_config", "%D/out.bin")}
            .transfers_are({cal_hdr, cal_1, cal_2}).leaving({{"out.bin", text("CAL")}}).followed_by(CAL_OK),
        e2e_row{"vrcal under 1000-byte pages", get_cal, 2, "", FV + READ_DATA + "%d\n"}
            .under({"EMU_EEPROM_PAGE_SIZE=1000"})
            .transfers_are({cal_hdr, rd(6656, 1536, "1000"), rd(5656, 2536, "1000")}).followed_by(CAL_OK),
        e2e_row{"vrcal second page read fails", get_cal, 2, "", FV + READ_DATA + "5\n"}
            .under({"EMU_EEPROM_FAIL_READ=3"})
            .transfers_are({cal_hdr, cal_1, rd(2560, 5632, "-1 EIO")}).followed_by(CAL_OK),
        e2e_row{"vrcal blob stored: only its bytes", set_cal, 0, "", FV}
            .transfers_are({cal_hdr, cal_1, cal_2, cal_guard, cal_run, cal_sum, cal_back, cal_sum_back})
            .writing(landed(VRCAL, vrcal_new, -1, false)).followed_by(CAL_OK),
        e2e_row{"vrcal checksum write fails", set_cal, 3, "", FV + WRITE + "5\n"}
            .under({"EMU_EEPROM_FAIL_WRITE=3"})
            .transfers_are({cal_hdr, cal_1, cal_2, cal_guard, cal_run, wr(2, 8190, "-1 EIO")})
            .writing(landed(VRCAL, vrcal_new, 311, true)).followed_by(CAL_BROKEN),
        e2e_row{"vrcal write under 100-byte calls", set_cal, 3, "", FV + WRITE + "%d\n"}
            .under({"EMU_EEPROM_SHORT_WRITE=2:100,3:100"})
            .transfers_are({cal_hdr, cal_1, cal_2, cal_guard, wr(302, 1545, "100"), wr(202, 1645, "100")})
            .writing(landed(VRCAL, vrcal_new, 209, true)).followed_by(CAL_BROKEN),
        // Reset reads first; a read that fails leaves the chip unknown, and
        // the whole image is written.
        e2e_row{"vrcal reset under 1000-byte pages", reset_cal, 3, "", FV + reseting("vrcal") + WRITE + "%d\n"}
            .under({"EMU_EEPROM_PAGE_SIZE=1000"})
            .transfers_are({rd(6656, 1536, "1000"), rd(5656, 2536, "1000"), cal_guard, wr(6654, 1536, "1000"),
                            wr(5654, 2536, "1000")})
            .writing(landed(VRCAL, vrcal_reset, 2000, true)).followed_by(CAL_BROKEN),
        e2e_row{"vrcal beyond a small chip, read", get_cal, 2, "", FV + READ_DATA + "%d\n"}
            .on(small).transfers_are({cal_hdr, rd(6656, 1536, "2560"), rd(4096, 4096, "0")}).followed_by(CAL_SHORT),
        e2e_row{"vrcal beyond a small chip, reset", reset_cal, 3, "", FV + reseting("vrcal") + WRITE + "27\n"}
            .on(small)
            .transfers_are({rd(6656, 1536, "2560"), rd(4096, 4096, "0"), wr(2, 8190, "-1 EFBIG")})
            .followed_by(CAL_SHORT),
        e2e_row{"core on a small chip", get_sn, 0, "SN-0001", FC + shown("unit_sn")}
            .on(small).transfers_are({core_hdr, core_img}).followed_by(OLD),
    };
    for (e2e_row &row : rows) {
        bytes vrcal_on_chip = vrcal_old;  // as much of it as the chip holds
        vrcal_on_chip.resize(std::min<size_t>(vrcal_old.size(), row.hw.chips[0].size - VRCAL.offset));
        row = row.holding({{&CORE, core_old}, {&VRCAL, vrcal_on_chip}}).with_files({{"in.bin", data}});
    }
    play(rows);
}

TEST(ChipTransfers, AChipSwallowingWritesFailsEveryStore) {
    const std::vector<image_item> sn = {field("unit_sn", "SN-1")};
    const std::string FC = found("core");
    const auto on_protected = [](e2e_row r, const region_fact &region, std::vector<image_item> items,
                                 uint32_t version = 0, uint8_t lock = 0xFF) {
        return r.holding({{&region, image_for(region, items, version, lock)}})
            .with_files({{"blob", text("NEW")}})
            .under({"EMU_EEPROM_WRITE_PROTECT=1"});
    };
    play({
        on_protected({"set", {"set", "unit_sn", "SN-2"}, 3, "", FC + VERIFY_FAILED}, CORE, sn),
        on_protected({"set a blob", {"set", "device_config", "%D/blob"}, 3, "", found("vrcal") + VERIFY_FAILED},
                     VRCAL, {blob("device_config", text("CAL"))}),
        on_protected({"reset", {"reset", "core"}, 3, "", FC + reseting("core") + VERIFY_FAILED}, CORE, sn),
        on_protected({"lock", {"lock", "core"}, 3, "", FC + locking("core") + VERIFY_FAILED}, CORE, sn),
        on_protected({"unlock", {"unlock", "core"}, 3, "", FC + unlocking("core") + VERIFY_FAILED}, CORE, sn, 5,
                     0x00),
        on_protected({"upgrade", {"upgrade", "core"}, 3, "",
                      FC + invalidating("prox_noise") + upgrading("core", 4, 5) + VERIFY_FAILED},
                     CORE, sn, 4),
    });
}

}  // namespace
