#include "end_to_end.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace {

const std::string GOLDEN = "\x01golden:";

std::string expand(const std::string &s, const std::string &dir) {
    return replaced(replaced(s, "%D", dir), "%V", VELLUM_COMMAND);
}

void expect_text(const char *stream, const std::string &expected, const std::string &actual,
                 const std::string &dir) {
    if (expected.starts_with(GOLDEN)) {
        expect_golden(expected.substr(GOLDEN.size()), actual, dir);
        return;
    }
    const std::string want = expand(expected, dir);
    EXPECT_TRUE(like(want, actual)) << stream << ":\n" << actual << "\nwant:\n" << want;
}

void put(std::vector<bytes> &chips, const emu_headset &hs, const placed &p) {
    for (size_t c = 0; c < hs.chips.size(); c++) {
        if (&hs.chips[c] != &chip_of(hs, p.region->chip)) continue;
        const size_t at = p.region->offset + p.at;
        ASSERT_LE(at + p.data.size(), chips[c].size()) << p.region->name;
        std::copy(p.data.begin(), p.data.end(), chips[c].begin() + static_cast<long>(at));
    }
}

std::vector<std::string> xfer_lines(const run_result &r) {
    std::vector<std::string> out;
    for (const std::string &l : r.calls)
        if (l.starts_with("pread ") || l.starts_with("pwrite ")) out.push_back(l);
    return out;
}

// The headset's EEPROMs answer at 0x50 and 0x51 only; no other device on the
// buses is ever looked into, and none is listed again unless the bus
// directory is.
void expect_only_eeproms_looked_into(const run_result &r) {
    const std::string device_open = "opendir " + SYSFS + "/";
    const size_t base_opens = count_calls(r, "opendir " + SYSFS);
    for (const std::string &line : r.calls) {
        if (!line.starts_with(device_open)) continue;
        const std::string name = line.substr(device_open.size());
        EXPECT_TRUE(name.ends_with("0050") || name.ends_with("0051")) << line;
        EXPECT_LE(count_calls(r, line), base_opens) << line;
    }
}

// Chips that have an eeprom file to compare.
bool has_bytes(const emu_device &chip) {
    return chip.kind == emu_kind::eeprom || chip.kind == emu_kind::plain_dir;
}

}  // namespace

std::string golden(const std::string &name) { return GOLDEN + name; }

void expect_golden(const std::string &name, const std::string &actual, const std::string &dir) {
    const std::string path = std::string(VELLUM_SOURCE_DIR) + "/tests/expected/" + name;
    std::string stored = actual;
    if (!dir.empty()) stored = replaced(stored, dir, "%D");
    stored = replaced(stored, VELLUM_VERSION, "@VERSION@");
    const char *regenerate = std::getenv("VELLUM_REGENERATE");
    if (regenerate && std::string(regenerate) == "1") {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        write_file(path, text(stored));
        return;
    }
    const std::optional<bytes> file = read_file(path);
    ASSERT_TRUE(file) << path << " is missing (VELLUM_REGENERATE=1 writes it)";
    EXPECT_EQ(stored, std::string(file->begin(), file->end())) << "golden file " << path;
}

std::string xfer(const char *op, size_t count, long offset, const std::string &result,
                 const std::string &device) {
    return std::string(op) + " " + device + " " + std::to_string(count) + " " + std::to_string(offset) +
           " -> " + result;
}

namespace {

struct play_state {
    std::string dir;
    const emu_headset *hs = nullptr;
    std::vector<bytes> model;  // what each chip must hold
};

void play_row(const e2e_row &row, play_state &st) {
    SCOPED_TRACE(row.what);
    const std::string &dir = st.dir;
    if (!row.continues || !st.hs) {
        std::filesystem::remove_all(dir);
        ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
        ASSERT_TRUE(mount_headset(row.hw));
        st.hs = &row.hw;
        st.model.clear();
        for (const emu_device &chip : st.hs->chips)
            st.model.push_back(has_bytes(chip) ? read_chip(chip) : bytes{});
        for (const placed &p : row.seeds) {
            put(st.model, *st.hs, p);
            write_chip(chip_of(*st.hs, p.region->chip), p.region->offset + p.at, p.data);
        }
    }
    const emu_headset &hs = *st.hs;
    for (const auto &[name, data] : row.before)
        write_file(dir + "/" + name, text(replaced(std::string(data->begin(), data->end()), "%D", dir)));
    if (row.prepare) row.prepare();

    std::vector<std::string> args;
    for (const std::string &a : row.args) args.push_back(expand(a, dir));
    const run_result r = !args.empty() && args[0] == "sh"
                             ? run_program("/bin/sh", {"-c", args[1]}, row.env, expand(row.input, dir))
                             : run_vellum(args, row.env, expand(row.input, dir));
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, row.status);
    expect_text("standard output", row.out, r.out, dir);
    expect_text("standard error", row.err, r.err, dir);
    if (row.listings != -1) {
        EXPECT_EQ(count_calls(r, "opendir " + SYSFS), expected_listings(row.listings));
    }
    if (row.preads >= 0) {
        EXPECT_EQ(count_calls(r, "pread"), static_cast<size_t>(row.preads));
    }
    if (row.pwrites >= 0) {
        EXPECT_EQ(count_calls(r, "pwrite"), static_cast<size_t>(row.pwrites));
    }
    if (row.xfers) {
        EXPECT_EQ(xfer_lines(r), *row.xfers);
    }
    expect_only_eeproms_looked_into(r);

    for (const placed &p : row.writes) put(st.model, hs, p);
    for (size_t c = 0; c < hs.chips.size(); c++)
        if (has_bytes(hs.chips[c])) {
            EXPECT_EQ(difference(read_chip(hs.chips[c]), st.model[c]), "") << "chip " << c;
        }
    for (const auto &[name, data] : row.after) EXPECT_EQ(read_file(dir + "/" + name), data) << name;
    for (const e2e_row &n : row.next) play_row(n.then(), st);
}

}  // namespace

void play(const std::vector<e2e_row> &rows) {
    char tmpl[] = "/tmp/vellum-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    play_state st;
    st.dir = tmpl;
    for (const e2e_row &row : rows) play_row(row, st);
    std::filesystem::remove_all(st.dir);
}

std::vector<placed> reset_regions(int core, int strap, const region_items &items) {
    std::vector<const region_fact *> regions;
    if (core) regions = core_set(core).regions;
    if (strap) regions.push_back(&strap_of(strap));
    std::vector<placed> out;
    for (const region_fact *r : regions) {
        std::vector<image_item> mine;
        for (const auto &[region, i] : items)
            if (region == r) mine.push_back(i);
        out.push_back({r, image_for(*r, mine)});
    }
    return out;
}

std::vector<placed> command_line_items() {
    return reset_regions(2, 2,
                         {{&BOOTLOADER, field("board_revision", "EVT3")},
                          {&BOOTLOADER, field("imu_rev", bytes{0x07})},
                          // No terminator: all 14 bytes print, and not the marker after them.
                          {&CORE, field("unit_sn", "ABCDEFGHIJKLMN")},
                          {&CORE, field("prox_near", le16(300))},
                          {&CORE, {.offset = item("prox_mid").offset, .bytes = {1, 0, 0x00}, .valid = false}},
                          {&CORE, field("ipd_max", bytes{0xFF, 0x7F, 0x00, 0x80, 0x00, 0x00})},
                          {&STRAP_GEN2, field("strap_sn", "STRAP-1")}});
}
