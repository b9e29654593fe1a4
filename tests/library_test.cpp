// libvellum as the headset's programs call it: a C program linked against
// libvellum.so.0 (library/library_probe.c) makes the calls a row names on an
// emulated headset and prints a line per call: status, value and what the
// diagnostics callback received. Values are compared with what the tool
// prints for the same item, texts with what it prints on standard error for
// the same command, and both chips with what the calls should leave.
#include "station_file.h"

#include <sys/stat.h>

#include <iterator>
#include <sstream>

namespace {

#ifdef VELLUM_EMULATOR
const std::string TOOL = std::string(VELLUM_EMULATOR) + " " + VELLUM_BINARY;
#else
const std::string TOOL = VELLUM_BINARY;
#endif
const std::string CORE_CHIP = "/sys/bus/i2c/devices/1-0050/eeprom";
const std::string SN = "1A2B3C4D5E6F7";  // unit_sn as provisioned
const image_item NEW_SN = {24, text_bytes("NEW", 14)};
// Taken from the tool, run after the probe on the same headset: what `get`
// prints for the call's item, the file it saves of a blob (in hex), what
// `export` lists for it, and (for a text) what the tool prints on standard
// error for the call's words, with "text" as "get"; the tool's status must
// then be the call's.
const std::string GET = "%G", SAVED = "%F", EXPORTED = "%E", AS_TOOL = "%T";

// One step of the probe (%D: the scratch directory, %V: the tool) and the
// line it prints.
struct call {
    std::string step;
    int status;
    std::string value = "";
    std::string said = "";  // what reached the callback during the call
};

struct library_row {
    const char *what;
    std::vector<placed> seeds;
    std::vector<call> calls;
    std::vector<placed> after = {};  // regions as the calls leave them
    std::string err = "";            // what the tools the probe ran printed
    std::vector<std::string> env = {};
    int core = 2, strap = 2;  // generations; core -1: no bus directory
    // quiet: no callback; nothing printed, the exit status is the last
    // call's. read_only_files: chip files 0444, and the probe runs without
    // the capabilities that let root ignore file modes.
    enum { verbose, quiet, read_only_files } mode = verbose;
    std::vector<std::pair<std::string, std::string>> files = {};  // in %D before the calls
};

std::string escaped(const std::string &s) {
    std::string out;
    for (char c : s)
        out += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : std::string(1, c);
    return out;
}
std::string hex(const bytes &b) {
    std::string out;
    for (uint8_t c : b) out += "0123456789abcdef"[c >> 4], out += "0123456789abcdef"[c & 15];
    return out;
}
std::string not_set(const std::string &item) { return item + " has not been set!\n"; }
std::string refused(const std::string &region, int err) {
    return "Open " + region + " EEPROM " + CORE_CHIP + " Failed on: " + std::to_string(err) + "\n";
}

// Every region of the second generation valid, holding the provisioning
// file's items (and `extra` in the core region).
std::vector<placed> headset_with(const std::vector<image_item> &extra = {}) {
    std::vector<image_item> core;
    for (const provision_line &p : PROVISION)
        if (p.region == &CORE) core.push_back(p.item);
    core.insert(core.end(), extra.begin(), extra.end());
    std::vector<placed> out = provisioned_headset();
    out[1].data = image_for(CORE, core);
    return out;
}
placed core_with(const std::vector<image_item> &extra) { return headset_with(extra)[1]; }

class Library : public ScratchTest {
protected:
    std::string at(const std::string &s) const {
        return replaced(replaced(s, "%D", dir_), "%V", TOOL);
    }

    std::string from_tool(const std::string &what, std::vector<std::string> words,
                          const library_row &row, int status) {
        if (what == AS_TOOL) {
            if (words[0] == "text") words[0] = "get";
            const run_result r = run_vellum(words, row.env);
            EXPECT_EQ(r.status, status & 0xFF) << "the tool's status";
            return r.err;
        }
        if (what == SAVED) {
            EXPECT_EQ(run_vellum({"get", words[1], dir_ + "/saved"}).status, 0);
            return hex(read_file(dir_ + "/saved").value_or(bytes{}));
        }
        const run_result r = run_vellum(what == GET ? std::vector<std::string>{"get", words[1]}
                                                    : std::vector<std::string>{"export"});
        EXPECT_EQ(r.status, 0) << what << " " << words[1];
        const std::string key = "\"" + words[1] + "\": \"";
        const size_t from = r.out.find(key) + key.size();
        return what == GET ? r.out : r.out.substr(from, r.out.find('"', from) - from);
    }

    void play(const std::vector<library_row> &rows) {
        for (const library_row &row : rows) {
            SCOPED_TRACE(row.what);
            empty_dir();
            for (const auto &[name, content] : row.files) write_file(dir_ + "/" + name, text(at(content)));
            emu_headset hs = emu_standard_headset();
            hs.chips.clear();
            hs.base_dir = row.core >= 0;
            if (row.core < 0) ASSERT_TRUE(mount_headset(hs));
            else hs = headset(row.core, row.strap);
            std::vector<bytes> model;
            for (const placed &s : row.seeds)
                write_chip(hs.chips[s.region->chip], s.region->offset, s.data);
            for (const emu_device &chip : hs.chips) model.push_back(read_chip(chip));
            for (const placed &s : row.after)
                std::copy(s.data.begin(), s.data.end(),
                          model[s.region->chip].begin() + s.region->offset);

            std::vector<std::string> args = {LIBRARY_PROBE};
            if (row.mode == library_row::quiet) args.push_back("quiet");
            for (const call &c : row.calls) args.push_back(at(c.step));
            if (row.mode == library_row::read_only_files) {
                for (const emu_device &chip : hs.chips)
                    ASSERT_EQ(chmod(emu_chip_path(chip).c_str(), 0444), 0);
#ifdef VELLUM_EMULATOR
                args.insert(args.begin(), VELLUM_EMULATOR);
#endif
                args.insert(args.begin(),
                            {"/usr/bin/setpriv", "--inh-caps=-all", "--bounding-set=-all"});
            }
            const run_result r = run_program(args[0], {args.begin() + 1, args.end()}, row.env);
            EXPECT_EQ(r.signal, 0);
            const bool quiet = row.mode == library_row::quiet;
            EXPECT_EQ(r.err, quiet ? "" : row.err);
            EXPECT_EQ(r.status, quiet ? row.calls.back().status & 0xFF : 0);
            std::istringstream lines(r.out);
            for (const call &c : row.calls) {
                if (quiet) break;
                SCOPED_TRACE(c.step);
                std::istringstream step(at(c.step));
                const std::vector<std::string> words{std::istream_iterator<std::string>(step), {}};
                const auto side = [&](const std::string &s) {
                    return s.size() == 2 && s[0] == '%' ? from_tool(s, words, row, c.status) : s;
                };
                std::string line;
                std::getline(lines, line);
                EXPECT_EQ(line, std::to_string(c.status) + "\t" + escaped(side(c.value)) + "\t" +
                                    escaped(at(side(c.said))));
            }
            EXPECT_EQ(lines.peek(), EOF) << "more lines than calls";
            for (size_t c = 0; c < hs.chips.size(); c++)
                EXPECT_EQ(difference(read_chip(hs.chips[c]), model[c]), "") << "chip " << c;
        }
    }
};

TEST_F(Library, ReadsEveryKindAsTheToolShowsIt) {
    const std::vector<call> reads = {
        {"text board_revision", 0, GET, found("bootloader")},
        {"bytes board_revision", 0, hex(text("EVT 3"))},
        {"text imu_rev", 0, GET}, {"bytes imu_rev", 0, "42"},
        {"text unit_config", 0, GET, found("core")},
        {"bytes unit_config", 0, hex(text(R"(say "hi" \ #1)"))},
        {"text mac_addr_wifi", 0, GET}, {"bytes mac_addr_wifi", 0, "001a2b3c4d5e"},
        {"mac mac_addr_wifi", 0, "001a2b3c4d5e"},
        {"text prox_near", 0, GET}, {"bytes prox_near", 0, "b004"}, {"uint prox_near", 0, "1200"},
        {"text ipd_min", 0, GET}, {"bytes ipd_min", 0, "80f396000000"},
        {"ipd ipd_min", 0, "-3200 150 0"},
        {"text device_config", 0, EXPORTED, found("vrcal")},
        {"bytes device_config", 0, SAVED},
        {"text strap_sn", 0, GET, FOUND_STRAP}, {"uint left_audio_temp", 0, "25"},
    };
    std::vector<call> direct = {{"open ro", 0}};
    std::vector<call> shot = {{"open ro", 0}, {"snapshot", 0, "", FOUND_ALL}};
    direct.insert(direct.end(), reads.begin(), reads.end());
    for (const call &c : reads) shot.push_back({c.step, c.status, c.value});
    bytes illegal = blob_field({}, 2147);
    illegal[0] = 3000 & 0xFF, illegal[1] = 3000 >> 8;
    play({
        {"each read loads its region", headset_with(), direct},
        {"from a snapshot", headset_with(), shot},
        {"first generation, 32 bits", {{&STRAP_GEN1, image_for(STRAP_GEN1, {{196, le32(70000)}})}},
         {{"open ro", 0}, {"uint left_audio_admittance", 0, "70000", FOUND_STRAP},
          {"bytes left_audio_admittance", 0, "70110100"}, {"text left_audio_admittance", 0, GET}},
         {}, "", {}, 1, 1},
        {"buffers, kinds, items not set", headset_with(),
         {{"open ro", 0}, {"text unit_sn 13", 7, "length 13", found("core")},
          {"text unit_sn 14", 0, SN},
          {"bytes unit_sn 12", 7, "length 13"}, {"bytes unit_sn 13", 0, hex(text(SN))},
          {"uint unit_sn", 7}, {"mac prox_near", 7}, {"ipd mac_addr_wifi", 7}, {"uint ipd_min", 7},
          {"text mpcba_sn", 5, "", not_set("mpcba_sn")},
          {"bytes mpcba_sn", 5, "", not_set("mpcba_sn")},
          {"uint prox_mid", 5, "", not_set("prox_mid")},
          {"mac mac_addr_ble", 5, "", not_set("mac_addr_ble")},
          {"ipd ipd_max", 5, "", not_set("ipd_max")},
          {"bytes device_config 1499", 7, "length 1500", found("vrcal")},
          {"bytes xrservice", 5, "", not_set("xrservice")}}},
        {"blob of illegal length", {{&VRCAL, image_for(VRCAL, {{9, illegal}})}},
         {{"open ro", 0},
          {"bytes device_config", 5, "",
           found("vrcal") + "device_config appear valid, but has illegal length: 3000!\n"}}},
    });
}

TEST_F(Library, SnapshotSeesChangesOnlyOnceRetakenWritesReachEveryReader) {
    bytes corrupt = headset_with()[1].data;
    corrupt[40] ^= 1;
    play({
        {"a change by the tool", headset_with(),
         {{"open ro", 0}, {"snapshot", 0, "", FOUND_ALL}, {"text unit_sn", 0, SN},
          {"run %V set unit_sn NEW", 0, "exit 0"}, {"text unit_sn", 0, SN}, {"snapshot", 0},
          {"text unit_sn", 0, GET}},
         {core_with({NEW_SN})}, found("core")},
        {"the session's own write", headset_with(),
         {{"open rw", 0}, {"snapshot", 0, "", FOUND_ALL}, {"set unit_sn NEW", 0},
          {"text unit_sn", 0, SN}, {"drop", 0}, {"text unit_sn", 0, GET}},
         {core_with({NEW_SN})}},
        {"a region that failed keeps failing", {headset_with()[0], {&CORE, corrupt}},
         {{"open ro", 0},
          {"snapshot", 5, "",
           found("bootloader") + found("core") + CHECKSUM + found("vrcal") + uninit("vrcal") +
               FOUND_STRAP + uninit("strap")},
          {"text unit_sn", 5}, {"text board_revision", 0, "EVT 3"}, {"drop", 0},
          {"text unit_sn", 5, "", CHECKSUM}}},
        {"one session writes, another reads", headset_with(),
         {{"open rw", 0}, {"open ro", 0}, {"text unit_sn", 0, SN, found("core")}, {"session 1", 0},
          {"set unit_sn NEW", 0, "", found("core")},
          {"blob device_config 700", 0, "", found("vrcal")}, {"set ipd_max 1 -2 3", 0},
          {"session 2", 0}, {"text unit_sn", 0, GET},
          {"bytes device_config", 0, hex(pattern(700)), found("vrcal")},
          {"ipd ipd_max", 0, "1 -2 3"}, {"text ipd_max", 0, GET}},
         {core_with({NEW_SN, {102, ipd(1, -2, 3)}}),
          {&VRCAL, image_for(VRCAL, {{9, blob_field(pattern(700), 2147)}})}}},
    });
}

TEST_F(Library, ReadOnlySessionReadsReadOnlyChipFiles) {
    play({{.what = "chip files 0444",
           .seeds = headset_with(),
           .calls = {{"open ro", 0}, {"text unit_sn", 0, SN, found("core")},
                     {"snapshot", 0, "", found("bootloader") + found("vrcal") + FOUND_STRAP},
                     {"uint prox_near", 0, "1200"}, {"set unit_sn X", 4, "", refused("core", 9)},
                     {"blob device_config 3", 4, "", refused("vrcal", 9)}, {"open rw", 0},
                     {"text unit_sn", 4, "", found("core") + refused("core", 13)},
                     {"set unit_sn X", 4, "", refused("core", 13)}},
           .mode = library_row::read_only_files}});
}

// The tool waits at most 10 s for a lock, then fails with status 4: a lock
// that a session kept past its call fails the next `run`.
TEST_F(Library, SessionHoldsLocksAndWhatItReadOnlyInsideACall) {
    const std::string slow_set = "start EMU_EEPROM_DELAY_US=0:200000 %V set unit_sn NEW";
    const std::string locked = "await-lock " + CORE_CHIP + " 256";
    play({
        {"a read waits for a slow set", headset_with(),
         {{"open ro", 0}, {"text unit_sn", 0, SN, found("core")}, {slow_set, 0},
          {locked, 0, "locked"}, {"text unit_sn", 0, "NEW"}, {"wait", 0, "exit 0"}},
         {core_with({NEW_SN})}, found("core")},
        {"a write waits for a slow set, both kept", headset_with(),
         {{"open rw", 0}, {slow_set, 0}, {locked, 0, "locked"},
          {"set prox_mid 9", 0, "", found("core")}, {"wait", 0, "exit 0"}},
         {core_with({NEW_SN, {89, le16(9)}})}, found("core")},
        {"the tool runs between calls of every kind", headset_with(),
         {{"open ro", 0}, {"text unit_sn", 0, SN, found("core")},
          {"run %V set prox_mid 1", 0, "exit 0"},
          {"open rw", 0}, {"snapshot", 0, "", FOUND_ALL}, {"run %V set prox_mid 2", 0, "exit 0"},
          {"text mpcba_sn", 5, "", not_set("mpcba_sn")}, {"drop", 0}, {"set unit_sn NEW", 0},
          {"run %V set prox_far 3", 0, "exit 0"},
          {"check core", 0, "version 5 locked 0 set 7 of 17"},
          {"run %V set prox_noise 4", 0, "exit 0"}, {"session 1", 0}, {"uint prox_mid", 0, "2"}},
         {core_with({NEW_SN, {89, le16(2)}, {92, le16(3)}, {272, le16(4)}})},
         found("core") + found("core") + found("core") + found("core")},
        {"a new layout between calls", {{&CORE, image_for(CORE, {{24, text_bytes(SN, 14)}}, 4)}},
         {{"open ro", 0},
          {"text prox_noise", 5, "",
           found("core") + "cannot read prox_noise, eeprom version not supported!\n"},
          {"run %V reset core", 0, "exit 0"}, {"text prox_noise", 5, "", not_set("prox_noise")}},
         {{&CORE, image_for(CORE)}}, found("core") + " Reseting core\n"},
    });
}

// Each row also runs without a callback, which must leave both streams empty.
TEST_F(Library, ErrorsReachTheCallbackAsTheToolPrintsThemOrNowhere) {
    bytes locked = image_for(CORE, {}, 0, 0x00), too_new = image_for(CORE), corrupt = too_new;
    too_new[4] = 6, corrupt[40] ^= 1;
    reseal(too_new);
    const auto row = [](const char *what, std::vector<placed> seeds, const call &c,
                        std::vector<std::string> env = {}, int core = 2, int strap = 2) {
        return library_row{what, seeds, {{"open rw", 0}, c}, {}, "", env, core, strap};
    };
    const std::vector<placed> valid = headset_with();
    std::vector<library_row> rows = {
        row("not set", valid, {"text mpcba_sn", 5, "", AS_TOOL}),
        row("never initialised", {}, {"text unit_sn", 6, "", AS_TOOL}),
        row("corrupt", {{&CORE, corrupt}}, {"text unit_sn", 5, "", AS_TOOL}),
        row("newer layout", {{&CORE, too_new}}, {"text unit_sn", 10, "", AS_TOOL}),
        row("unknown item", {}, {"text nope", 7, "", "\nnope was not found!\n"}),
        row("refused value", {}, {"set prox_near 12abc", 7, "", AS_TOOL}),
        row("locked region", {{&CORE, locked}}, {"set unit_sn X", 5, "", AS_TOOL}),
        row("no strap chip", {}, {"text strap_sn", 11, "", AS_TOOL}, {}, 2, 0),
        row("no bus directory", {}, {"text unit_sn", -2, "", AS_TOOL}, {}, -1),
        row("read fails", valid, {"text unit_sn", 2, "", AS_TOOL}, {"EMU_EEPROM_FAIL_READ=1"}),
        row("write fails", valid, {"set unit_sn X", 3, "", AS_TOOL}, {"EMU_EEPROM_FAIL_WRITE=1"}),
        row("write-protected", valid, {"set unit_sn X", 3, "", AS_TOOL},
            {"EMU_EEPROM_WRITE_PROTECT=1"}),
        row("missing blob file", valid, {"set device_config %D/none", 7, "", AS_TOOL}),
        row("blob too large", valid,
            {"blob device_config 2146", 7, "", "\nFile Size too large 2146 > 2145\n"}),
        row("applying a chip", {}, {"apply " + CORE_CHIP, 7, "", AS_TOOL}),
        row("null arguments", valid, {"nulls", 0}),
        row("reset", {}, {"reset core", 0, "", AS_TOOL}),
    };
    rows.back().after = {{&CORE, image_for(CORE)}};
    play(rows);
    for (library_row &r : rows) r.mode = library_row::quiet;
    play(rows);
}

// Chip files, verify and the dry run, through a session: what the tool's
// --chip, verify and apply --dry-run do, with no bus directory at all.
TEST_F(Library, ChipFilesVerifyAndDryRun) {
    const std::string FOUND_C = "Found core EEPROM at: %D/c\n";
    const std::string WHY = "no such label (core_eeprom, core_v2_eeprom, strap_eeprom, strap_v2_eeprom)";
    play({{.what = "a session on a blank chip file",
           .seeds = {},
           .calls = {{"open rw", 0}, {"chip core_v2_eeprom %D/c", 0},
                     {"chip strap_eeprom %D/c", 7, "", "strap_eeprom=%D/c: the file stands for core_v2_eeprom already\n"},
                     {"reset core", 0, "", FOUND_C + " Reseting core\n"}, {"set unit_sn NEW", 0},
                     {"text unit_sn", 0, "NEW"},
                     {"verify %D/p", 1, "line 2: prox_near: stored not set, file 5\n"},
                     {"dry %D/p", 0, "", " Would apply 2 items to core\n"},
                     {"verify %D/p", 1, "line 2: prox_near: stored not set, file 5\n"},
                     {"text strap_sn", 11, "", "Failed to find strap_eeprom in sysfs - check dts files\n"},
                     {"chip core_eeprom %D/c", 7, "", "core_eeprom=%D/c: chips are already in use\n"},
                     {"open rw", 0}, {"chip nope %D/c", 7, "", "nope=%D/c: " + WHY + "\n"},
                     {"chip core_v2_eeprom %D/none", 4, "",
                      "core_v2_eeprom=%D/none: cannot be used, errno 2\n"}},
           .core = -1,
           // A blank chip file, as `truncate -s 8192` makes it.
           .files = {{"c", std::string(8192, '\0')}, {"p", "unit_sn NEW\nprox_near 5\n"}}}});
}

}  // namespace
