// How vellum starts: the command word, the help listing, which hardware
// generation of core board and strap it decides is fitted, and how it finds
// and opens the EEPROMs among the I2C devices in sysfs.
#include "headset_fixtures.h"


#include <filesystem>
#include <fstream>
#include <functional>

namespace {

const std::string BASE = "/sys/bus/i2c/devices";

// ---------------------------------------------------------------------------
// Expected texts

std::string repeat(const std::string &text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

std::string opendir_failed(int err = 2, const std::string &dir = BASE) {
    return "opendir(" + dir + ") ret: " + std::to_string(err) + "\n";
}

std::string label_missing(const std::string &label) {
    return "Failed to find " + label + " in sysfs - check dts files\n";
}

std::string open_failed(const std::string &region, const std::string &device = "1-0050") {
    return "Open " + region + " EEPROM " + BASE + "/" + device + "/eeprom Failed on: 2\n";
}

std::string uninitialised(const std::string &region) {
    return "EEPROM Uninitialized, run:\n\tvellum reset " + region + "\n";
}

std::string unknown(const std::string &text, const std::string &command) {
    return "\n" + text + " was not found!\n" + hint(command);
}

// The streams of a value that printed: label and newline on standard error.
std::string shown(const std::string &item) { return item + ": \n"; }

const std::string NO_SUCH_COMMAND = "\n ** Command not found. (Type 'help')\n" + USAGE;
const std::string HEADINGS = "Core EEPROM Data:\n\nStrap EEPROM Data:\n";

// ---------------------------------------------------------------------------
// Headsets

using setup_fn = std::function<void()>;

// Nothing under /sys at all: the I2C bus directory is missing.
setup_fn no_sysfs() {
    return [] {
        emu_headset hs = emu_standard_headset();
        hs.base_dir = false;
        mount_headset(hs);
    };
}

// Blank chips of the given generations (0: chip absent).
setup_fn blank(int core = 2, int strap = 2) {
    return [=] { headset(core, strap); };
}

// Exactly these chips on the buses, besides the usual unbound devices.
setup_fn board(std::vector<emu_device> chips, bool reverse = false) {
    return [=] {
        emu_headset hs = emu_standard_headset();
        hs.chips = chips;
        hs.reverse_listing = reverse;
        mount_headset(hs);
    };
}

emu_device at(emu_device chip, int bus, int address, int label_number = 0) {
    chip.bus = bus;
    chip.address = address;
    chip.label_number = label_number;
    return chip;
}

emu_device of_kind(emu_device chip, emu_kind kind) {
    chip.kind = kind;
    return chip;
}

const emu_device DANGLING_2_0050 = {.kind = emu_kind::dangling, .bus = 2, .address = 0x50};

// Both chips written as a factory leaves them: the core with a serial
// number, the strap (of either generation) with its own serial and, on the
// first generation, an admittance that only that strap layout has.
setup_fn provisioned(int core, int strap) {
    return [=] {
        emu_headset hs = headset(core, strap);
        seed(hs, CORE, {{.offset = 24, .bytes = text_bytes("SN42", 14)}});
        if (strap == 1)
            seed(hs, STRAP_GEN1,
                 {{.offset = 9, .bytes = text_bytes("ST1", 14)},
                  {.offset = 196, .bytes = le32(123456)}});
        else
            seed(hs, STRAP_GEN2, {{.offset = 9, .bytes = text_bytes("ST2", 14)}});
    };
}

// The bus directory exists but is a plain file.
setup_fn base_is_a_file() {
    return [] {
        emu_headset hs = emu_standard_headset();
        hs.base_dir = false;
        mount_headset(hs);
        std::filesystem::create_directories("/sys/bus/i2c");
        std::ofstream(BASE) << "not a directory\n";
    };
}

// ---------------------------------------------------------------------------
// Table runner

struct row {
    const char *what;
    setup_fn setup;
    expected_run run;
    // How often the tool opened the bus directory, -1 when not checked: once
    // for the first probe or lookup, and once more for every later one that
    // asks for a label that no listing so far has shown (LISTINGS_FOR_BOTH:
    // see there).
    int base_opens = -1;
};

void run_rows(const std::vector<row> &rows) {
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        r.setup();
        const run_result result = expect_run(r.run);
        if (r.base_opens != -1) {
            EXPECT_EQ(count_calls(result, "opendir " + BASE), expected_listings(r.base_opens));
        }
        // The headset's EEPROMs answer at 0x50 and 0x51 only; no other
        // device on the buses is ever looked into, and none is listed again
        // unless the bus directory is.
        const std::string device_open = "opendir " + BASE + "/";
        const size_t base_opens = count_calls(result, "opendir " + BASE);
        for (const std::string &line : result.calls) {
            if (!line.starts_with(device_open)) continue;
            const std::string name = line.substr(device_open.size());
            EXPECT_TRUE(name.ends_with("0050") || name.ends_with("0051")) << line;
            EXPECT_LE(count_calls(result, line), base_opens) << line;
        }
    }
}

// ---------------------------------------------------------------------------

TEST(Dispatch, CommandWordSelectsTheHandler) {
    const std::string version = version_line();
    // No bus directory: a command that touches no EEPROM prints nothing about it.
    run_rows({
        {"no command word", no_sysfs(), {{}, 0, USAGE, ""}, 0},
        {"unknown word", no_sysfs(), {{"frobnicate"}, 7, NO_SUCH_COMMAND, ""}, 0},
        {"a command's beginning is not the command", no_sysfs(), {{"hel"}, 7, NO_SUCH_COMMAND, ""}, 0},
        {"empty word", no_sysfs(), {{""}, 7, NO_SUCH_COMMAND, ""}, 0},
        {"case matters", no_sysfs(), {{"Version"}, 7, NO_SUCH_COMMAND, ""}, 0},
        {"only the first word is a command", no_sysfs(), {{"frobnicate", "version"}, 7, NO_SUCH_COMMAND, ""}, 0},
        {"version", no_sysfs(), {{"version"}, 0, version, ""}, 0},
        {"version with a suffix", no_sysfs(), {{"versionx"}, 0, version, ""}, 0},
        {"version ignores words", no_sysfs(), {{"version", "extra", "words"}, 0, version, ""}, 0},
        {"help with a suffix", blank(), {{"helpme"}, 0, help_text(2, 2), ""}, LISTINGS_FOR_BOTH},
        // The usual options, as exact words only.
        {"--help", blank(), {{"--help"}, 0, help_text(2, 2), ""}, LISTINGS_FOR_BOTH},
        {"-h, words after it", blank(), {{"-h", "get"}, 0, help_text(2, 2), ""}, LISTINGS_FOR_BOTH},
        {"--version", no_sysfs(), {{"--version"}, 0, version, ""}, 0},
        {"-V", no_sysfs(), {{"-V", "extra"}, 0, version, ""}, 0},
        {"an option with a suffix", no_sysfs(), {{"--helpme"}, 7, NO_SUCH_COMMAND, ""}, 0},
        {"a short option with a suffix", no_sysfs(), {{"-hx"}, 7, NO_SUCH_COMMAND, ""}, 0},
        {"-v is not -V", no_sysfs(), {{"-v"}, 7, NO_SUCH_COMMAND, ""}, 0},
        {"an option after the command word", no_sysfs(), {{"versionx", "--help"}, 0, version, ""}, 0},
        {"get with a suffix", no_sysfs(), {{"getx"}, 7, "", "\nget command requires an item!\n" + hint("get")}, 0},
        {"unlock does not also run lock", no_sysfs(),
         {{"unlock"}, 7, "", "\nunlock command requires an item!\n" + hint("unlock")}, 0},
        {"restore does not also run reset", no_sysfs(),
         {{"restores"}, 7, "", "\nrestore command requires a region and a file name!\n" + hint("restore")}, 0},
        {"lock with a suffix", no_sysfs(),
         {{"locked"}, 7, "", "\nlock command requires an item!\n" + hint("lock")}, 0},
        {"a handler's negative status leaves as its low byte", no_sysfs(),
         {{"get", "unit_sn"}, 254, "", repeat(opendir_failed(), 2)}, 2},
    });
}

TEST(Help, ListsTheNamesOfTheFittedHardware) {
    const std::string probes_fail = repeat(opendir_failed(), 2);
    // Two probes, one listing, when the first probe's listing shows the
    // strap's label; a strap label that it does not show is looked for again.
    const std::vector<row> rows = {
        {"second-generation core and strap", blank(2, 2), {{"help"}, 0, help_text(2, 2), ""}, LISTINGS_FOR_BOTH},
        {"first-generation core and strap", blank(1, 1), {{"help"}, 0, help_text(1, 1), ""}, 2},
        {"second-generation core, first-generation strap", blank(2, 1), {{"help"}, 0, help_text(2, 1), ""}, 2},
        {"first-generation core, second-generation strap", blank(1, 2), {{"help"}, 0, help_text(1, 2), ""}, 1},
        {"no EEPROM fitted", blank(0, 0), {{"help"}, 0, help_text(1, 1), ""}, 2},
        {"second-generation core alone", blank(2, 0), {{"help"}, 0, help_text(2, 1), ""}, 2},
        {"second-generation strap alone", blank(0, 2), {{"help"}, 0, help_text(1, 2), ""}, 1},
        {"no bus directory", no_sysfs(), {{"help"}, 0, help_text(1, 1), probes_fail}, 2},
        {"words after help", blank(), {{"help", "get", "unit_sn"}, 0, help_text(2, 2), ""}, LISTINGS_FOR_BOTH},
        {"listing in reverse", board(emu_standard_headset().chips, true), {{"help"}, 0, help_text(2, 2), ""}, LISTINGS_FOR_BOTH},
        {"a label alone decides, without an eeprom file",
         board({of_kind(emu_core_chip(2), emu_kind::no_eeprom_file), emu_strap_chip(2)}),
         {{"help"}, 0, help_text(2, 2), ""}, LISTINGS_FOR_BOTH},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        r.setup();
        const run_result result = expect_run(r.run);
        EXPECT_EQ(count_calls(result, "opendir " + BASE), expected_listings(r.base_opens));
        EXPECT_TRUE(transfers(result).empty()) << "help reads no EEPROM";
    }
}

TEST(Generation, ChosenOncePerBoardAndIndependently) {
    const std::string probes_fail = repeat(opendir_failed(), 2);
    run_rows({
        // Each family is probed once, on its first use: a core item never
        // makes the tool look for the strap.
        {"core item, second generation", provisioned(2, 2),
         {{"get", "unit_sn"}, 0, "SN42", found("core") + shown("unit_sn")}, 1},
        {"core item, first generation", provisioned(1, 2),
         {{"get", "unit_sn"}, 0, "SN42", found("core") + shown("unit_sn")}, 1},
        {"core item write", provisioned(2, 2),
         {{"set", "unit_sn", "SN43"}, 0, "", found("core")}, 1},
        {"strap item probes the core first", provisioned(2, 2),
         {{"get", "strap_sn"}, 0, "ST2", found("strap", "1-0051") + shown("strap_sn")}, LISTINGS_FOR_BOTH},
        // A label that is not there is looked for again: the probe for the
        // second-generation strap lists the devices anew.
        {"first-generation strap beside a second-generation core", provisioned(2, 1),
         {{"get", "strap_sn"}, 0, "ST1", found("strap", "1-0051") + shown("strap_sn")}, 2},
        {"item only the first-generation strap has", provisioned(2, 1),
         {{"get", "left_audio_admittance"}, 0, "123456",
          found("strap", "1-0051") + shown("left_audio_admittance")}, 2},
        {"same item absent on the second-generation strap", provisioned(2, 2),
         {{"get", "left_audio_admittance"}, 7, "", unknown("left_audio_admittance", "get")}, LISTINGS_FOR_BOTH},
        {"second-generation strap beside a first-generation core", provisioned(1, 2),
         {{"get", "strap_sn"}, 0, "ST2", found("strap", "1-0051") + shown("strap_sn")}, 1},
        {"blobs only on the second-generation core", provisioned(1, 2),
         {{"get", "device_config"}, 7, "", unknown("device_config", "get")}, 1},
        {"blob region on the second-generation core", blank(2, 2),
         {{"get", "device_config", "/dev/null"}, 6, "", found("vrcal") + uninitialised("vrcal")}, 1},
        {"no label at all means first generation", blank(0, 0),
         {{"get", "device_config"}, 7, "", unknown("device_config", "get")}, 2},
        {"unreadable bus directory means first generation", no_sysfs(),
         {{"get", "device_config"}, 7, "", probes_fail + unknown("device_config", "get")}, 2},
        // A region command settles both boards before it looks for its region.
        {"core region command", blank(2, 2),
         {{"lock", "core"}, 6, "", found("core") + uninitialised("core")}, LISTINGS_FOR_BOTH},
        {"strap region command", blank(2, 2),
         {{"lock", "strap"}, 6, "", found("strap", "1-0051") + uninitialised("strap")}, LISTINGS_FOR_BOTH},
        // The newer label wins even when an older core chip sits on the bus.
        {"both core labels fitted", board({emu_core_chip(1), at(emu_core_chip(2), 2, 0x50, 1)}),
         {{"lock", "core"}, 6, "", found("core", "2-0050") + uninitialised("core")}, 2},
    });
}

TEST(Lookup, FindsTheChipByLabelAtItsAddress) {
    const std::string strap_missing = label_missing("strap_eeprom");
    run_rows({
        {"label child with its number", blank(),
         {{"get", "unit_sn"}, 6, "", found("core") + uninitialised("core")}, 1},
        {"any number after the label", board({at(emu_core_chip(2), 1, 0x50, 42)}),
         {{"get", "unit_sn"}, 6, "", found("core") + uninitialised("core")}, 1},
        {"listing in reverse", board(emu_standard_headset().chips, true),
         {{"get", "strap_sn"}, 6, "", found("strap", "1-0051") + uninitialised("strap")}, LISTINGS_FOR_BOTH},
        {"either address serves either board",
         board({at(emu_core_chip(2), 1, 0x51), at(emu_strap_chip(2), 1, 0x50, 1)}),
         {{"get", "unit_sn"}, 6, "", found("core", "1-0051") + uninitialised("core")}, 1},
        {"another bus", board({at(emu_core_chip(1), 4, 0x50)}),
         {{"get", "unit_sn"}, 6, "", found("core", "4-0050") + uninitialised("core")}, 1},
        {"label absent", blank(0, 2),
         {{"get", "unit_sn"}, 11, "", label_missing("core_eeprom")}, 2},
        {"strap label absent", blank(2, 0), {{"get", "strap_sn"}, 11, "", strap_missing}, 3},
        {"strap label absent, region command", blank(2, 0), {{"reset", "strap"}, 11, "", strap_missing}, 3},
        {"unbound device at 0x50", board({of_kind(at(emu_core_chip(2), 2, 0x50), emu_kind::driverless)}),
         {{"get", "unit_sn"}, 11, "", label_missing("core_eeprom")}, 2},
        {"labelled chip at another address", board({at(emu_core_chip(2), 1, 0x52)}),
         {{"get", "unit_sn"}, 11, "", label_missing("core_eeprom")}, 2},
        {"first-generation chip at another address", board({at(emu_core_chip(1), 1, 0x57)}),
         {{"get", "unit_sn"}, 11, "", label_missing("core_eeprom")}, 2},
        {"plain directory is not a device", board({of_kind(emu_core_chip(2), emu_kind::plain_dir)}),
         {{"get", "unit_sn"}, 11, "", label_missing("core_eeprom")}, 2},
        {"plain directory with the first-generation label", board({of_kind(emu_core_chip(1), emu_kind::plain_dir)}),
         {{"get", "unit_sn"}, 11, "", label_missing("core_eeprom")}, 2},
        {"label but no eeprom file", board({of_kind(emu_core_chip(2), emu_kind::no_eeprom_file)}),
         {{"get", "unit_sn"}, 4, "", found("core") + open_failed("core")}, 1},
        {"label but no eeprom file, strap",
         board({emu_core_chip(2), of_kind(emu_strap_chip(2), emu_kind::no_eeprom_file)}),
         {{"unlock", "strap"}, 4, "", found("strap", "1-0051") + open_failed("strap", "1-0051")}, LISTINGS_FOR_BOTH},
        {"device link to nothing", board({DANGLING_2_0050}),
         {{"get", "unit_sn"}, 254, "", repeat(opendir_failed(2, BASE + "/2-0050"), 2)}, 2},
        {"bus directory is a file", base_is_a_file(),
         {{"get", "unit_sn"}, 236, "", repeat(opendir_failed(20), 2)}, 2},
    });
}

TEST(Lookup, NoBusDirectoryFailsEveryCommandThatNeedsAChip) {
    const auto failed = [](int times) { return repeat(opendir_failed(), times); };
    run_rows({
        {"get core item", no_sysfs(), {{"get", "unit_sn"}, 254, "", failed(2)}, 2},
        {"get strap item", no_sysfs(), {{"get", "strap_sn"}, 254, "", failed(3)}, 3},
        {"set core item", no_sysfs(), {{"set", "unit_sn", "X1"}, 254, "", failed(2)}, 2},
        {"set strap item", no_sysfs(), {{"set", "strap_sn", "X1"}, 254, "", failed(3)}, 3},
        {"reset core", no_sysfs(), {{"reset", "core"}, 254, "", failed(3)}, 3},
        {"lock bootloader", no_sysfs(), {{"lock", "b"}, 254, "", failed(3)}, 3},
        {"unlock strap", no_sysfs(), {{"unlock", "strap"}, 254, "", failed(3)}, 3},
        {"upgrade core", no_sysfs(), {{"upgrade", "core"}, 254, "", failed(3)}, 3},
        // Every item of both boards fails alike and is reported each time.
        {"print everything", no_sysfs(), {{"print_all"}, 0, HEADINGS, failed(1 + 20 + 1 + 19)}, 41},
    });
}

TEST(Lookup, EachRegionIsFoundOncePerRun) {
    std::string blank_headset;
    for (const auto &[region, items] : {std::pair<std::string, int>{"bootloader", 3}, {"core", 17}, {"vrcal", 3}})
        blank_headset += found(region) + repeat(uninitialised(region), items);
    blank_headset += found("strap", "1-0051") + repeat(uninitialised("strap"), 11);
    run_rows({
        // Three regions share the core chip; each resolves it for itself,
        // from the listing that the core probe made.
        {"blank headset", blank(), {{"print_all"}, 0, HEADINGS, blank_headset}, LISTINGS_FOR_BOTH},
        {"no EEPROM fitted", blank(0, 0),
         {{"print_all"}, 0, HEADINGS, label_missing("core_eeprom") + label_missing("strap_eeprom")}, 4},
        {"chips that will not open",
         board({of_kind(emu_core_chip(2), emu_kind::no_eeprom_file),
                of_kind(at(emu_strap_chip(2), 1, 0x51, 1), emu_kind::no_eeprom_file)}),
         {{"print_all"}, 0, HEADINGS,
          found("bootloader") + open_failed("bootloader") + found("strap", "1-0051") +
              open_failed("strap", "1-0051")}, LISTINGS_FOR_BOTH},
    });
}

TEST(Lookup, FirstListedMatchWins) {
    std::vector<std::string> chosen;
    for (bool reverse : {false, true}) {
        SCOPED_TRACE(reverse ? "reverse listing" : "kernel listing");
        emu_headset hs = emu_standard_headset();
        hs.chips = {emu_core_chip(2), at(emu_core_chip(2), 3, 0x50, 1)};
        hs.reverse_listing = reverse;
        ASSERT_TRUE(mount_headset(hs));
        std::string first;
        for (const std::string &name : listed_devices())
            if (name == "1-0050" || name == "3-0050") {
                first = name;
                break;
            }
        ASSERT_FALSE(first.empty());
        chosen.push_back(first);
        const run_result r =
            expect_run({{"get", "unit_sn"}, 6, "", found("core", first) + uninitialised("core")});
        const std::vector<xfer_call> calls = transfers(r);
        EXPECT_FALSE(calls.empty());
        for (const xfer_call &c : calls) EXPECT_EQ(c.device, first);
    }
    EXPECT_NE(chosen[0], chosen[1]) << "both listing orders should have been tried";
}

// The device that a fresh listing finds for a label: the first entry, in
// listing order, that links to a device at 0x50 or 0x51 whose directory holds
// a child named after the label.
std::string first_listed_with(const std::string &label) {
    namespace fs = std::filesystem;
    for (const std::string &name : listed_devices()) {
        const fs::path device = BASE + "/" + name;
        if (!(name.ends_with("0050") || name.ends_with("0051")) || !fs::is_symlink(device)) continue;
        std::error_code ec;
        for (const fs::directory_entry &child : fs::directory_iterator(device, ec))
            if (child.path().filename().string().starts_with(label)) return name;
    }
    return "";
}

// What one listing showed answers later questions only where a fresh listing
// would give the same answer: crowded buses, more labelled devices than are
// remembered, a label on two devices, either listing order.
TEST(Lookup, RememberedListingsAnswerAsAFreshListingWould) {
    std::vector<emu_device> crowded = emu_standard_headset().chips;
    for (int bus = 2; bus < 14; ++bus) {
        emu_device decoy = at(emu_core_chip(2), bus, bus % 2 ? 0x51 : 0x50, bus);
        decoy.label = "decoy_eeprom";
        crowded.push_back(decoy);
    }
    std::vector<emu_device> two_straps = emu_standard_headset().chips;
    two_straps.push_back(at(emu_strap_chip(2), 3, 0x51, 2));
    const struct {
        const char *what;
        std::vector<emu_device> chips;
    } boards[] = {{"crowded buses", crowded}, {"two straps", two_straps}};
    const struct {
        std::vector<std::string> args;
        std::string region, label;
        size_t most_listings;  // a listing per probe and per lookup
    } calls[] = {
        {{"get", "unit_sn"}, "core", "core_v2_eeprom", 2},
        {{"get", "strap_sn"}, "strap", "strap_v2_eeprom", 3},
        {{"unlock", "strap"}, "strap", "strap_v2_eeprom", 3},
    };
    for (const auto &b : boards) {
        for (bool reverse : {false, true}) {
            board(b.chips, reverse)();
            for (const auto &c : calls) {
                SCOPED_TRACE(std::string(b.what) + (reverse ? ", reverse listing: " : ": ") +
                             c.args[0] + " " + c.args[1]);
                const std::string device = first_listed_with(c.label);
                ASSERT_FALSE(device.empty());
                const run_result r =
                    expect_run({c.args, 6, "", found(c.region, device) + uninitialised(c.region)});
                EXPECT_LE(count_calls(r, "opendir " + BASE), c.most_listings);
            }
        }
    }
}

}  // namespace
