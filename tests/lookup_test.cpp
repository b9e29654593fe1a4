// Finding things: which chip carries a label among the I2C devices, which
// hardware generation of each board is fitted, which item or region a word
// names, and how often a command lists the devices on the way. Every suite
// here runs in both kernels' listing orders (tests/CMakeLists.txt).
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "catalogue.h"
#include "eeprom_common.h"
#include "end_to_end.h"

namespace {

const std::string FOUND_CORE = found("core"), FOUND_STRAP = found(STRAP_GEN2);

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

// Exactly these chips on the buses, besides the usual unbound devices.
emu_headset board(std::vector<emu_device> chips, bool reverse = false) {
    emu_headset hs = emu_standard_headset();
    hs.chips = std::move(chips);
    hs.reverse_listing = reverse;
    return hs;
}

// The core with a serial number, the strap (of either generation) with its
// own serial and, on the first generation, an admittance only it has.
std::vector<placed> provisioned(int strap) {
    std::vector<placed> s = {{&CORE, image_for(CORE, {field("unit_sn", "SN42")})}};
    if (strap == 1)
        s.push_back({&STRAP_GEN1, image_for(STRAP_GEN1, {field("strap_sn", "ST1"),
                                                         field("left_audio_admittance", le32(123456))})});
    else
        s.push_back({&STRAP_GEN2, image_for(STRAP_GEN2, {field("strap_sn", "ST2")})});
    return s;
}

TEST(Generation, HelpListsTheNamesOfTheFittedHardware) {
    // Two probes, one listing, when the first probe's listing shows the
    // strap's label; a strap label that it does not show is looked for again.
    const auto help = [](const char *what, int core, int strap, std::vector<std::string> args = {"help"}) {
        return e2e_row{what, std::move(args), 0,
                       golden("help-core" + std::to_string(core) + "-strap" + std::to_string(strap) + ".out")}
            .transfers_are({});
    };
    const auto with_err = [](e2e_row r, const std::string &err) {
        r.err = err;
        return r;
    };
    play({
        help("second-generation core and strap", 2, 2).listed(LISTINGS_FOR_BOTH),
        help("first-generation core and strap", 1, 1).on(1, 1).listed(2),
        help("second-generation core, first-generation strap", 2, 1).on(2, 1).listed(2),
        help("first-generation core, second-generation strap", 1, 2).on(1, 2).listed(1),
        help("no EEPROM fitted", 1, 1).on(0, 0).listed(2),
        help("second-generation core alone", 2, 1).on(2, 0).listed(2),
        help("second-generation strap alone", 1, 2).on(0, 2).listed(1),
        with_err(help("no bus directory", 1, 1), repeat(NO_SYSFS, 2)).on(no_bus()).listed(2),
        help("words after help", 2, 2, {"help", "get", "unit_sn"}).listed(LISTINGS_FOR_BOTH),
        help("listing in reverse", 2, 2).on(board(emu_standard_headset().chips, true)).listed(LISTINGS_FOR_BOTH),
        help("a label alone decides, without an eeprom file", 2, 2)
            .on(board({of_kind(emu_core_chip(2), emu_kind::no_eeprom_file), emu_strap_chip(2)}))
            .listed(LISTINGS_FOR_BOTH),
        help("help with a suffix", 2, 2, {"helpme"}).listed(LISTINGS_FOR_BOTH),
        help("--help", 2, 2, {"--help"}).listed(LISTINGS_FOR_BOTH),
        help("-h, words after it", 2, 2, {"-h", "get"}).listed(LISTINGS_FOR_BOTH),
    });
}

TEST(Generation, ChosenOncePerBoardAndIndependently) {
    const std::string probes_fail = repeat(NO_SYSFS, 2);
    const auto on = [](int core, int strap, const char *what, std::vector<std::string> args, int status,
                       std::string out, std::string err) {
        return e2e_row{what, std::move(args), status, std::move(out), std::move(err)}
            .on(core, strap)
            .holding(provisioned(strap));
    };
    play({
        // Each family is probed once, on its first use: a core item never
        // makes the tool look for the strap.
        on(2, 2, "core item, second generation", {"get", "unit_sn"}, 0, "SN42", FOUND_CORE + shown("unit_sn"))
            .listed(1),
        on(1, 2, "core item, first generation", {"get", "unit_sn"}, 0, "SN42", FOUND_CORE + shown("unit_sn"))
            .listed(1),
        on(2, 2, "core item write", {"set", "unit_sn", "SN43"}, 0, "", FOUND_CORE)
            .writing({{&CORE, image_for(CORE, {field("unit_sn", "SN43")})}})
            .listed(1),
        on(2, 2, "strap item probes the core first", {"get", "strap_sn"}, 0, "ST2",
           FOUND_STRAP + shown("strap_sn"))
            .listed(LISTINGS_FOR_BOTH),
        // A label that is not there is looked for again: the probe for the
        // second-generation strap lists the devices anew.
        on(2, 1, "first-generation strap beside a second-generation core", {"get", "strap_sn"}, 0, "ST1",
           FOUND_STRAP + shown("strap_sn")).listed(2),
        on(2, 1, "item only the first-generation strap has", {"get", "left_audio_admittance"}, 0, "123456",
           FOUND_STRAP + shown("left_audio_admittance")).listed(2),
        on(2, 2, "same item absent on the second-generation strap", {"get", "left_audio_admittance"}, 7, "",
           not_found("left_audio_admittance", "get")).listed(LISTINGS_FOR_BOTH),
        on(1, 2, "second-generation strap beside a first-generation core", {"get", "strap_sn"}, 0, "ST2",
           FOUND_STRAP + shown("strap_sn")).listed(1),
        on(1, 2, "blobs only on the second-generation core", {"get", "device_config"}, 7, "",
           not_found("device_config", "get")).listed(1),
        e2e_row{"blob region on the second-generation core", {"get", "device_config", "/dev/null"}, 6, "",
                found("vrcal") + uninit("vrcal")}.listed(1),
        e2e_row{"no label at all means first generation", {"get", "device_config"}, 7, "",
                not_found("device_config", "get")}.on(0, 0).listed(2),
        e2e_row{"unreadable bus directory means first generation", {"get", "device_config"}, 7, "",
                probes_fail + not_found("device_config", "get")}.on(no_bus()).listed(2),
        // A region command settles both boards before it looks for its region.
        e2e_row{"core region command", {"lock", "core"}, 6, "", FOUND_CORE + uninit("core")}
            .listed(LISTINGS_FOR_BOTH),
        e2e_row{"strap region command", {"lock", "strap"}, 6, "", FOUND_STRAP + uninit("strap")}
            .listed(LISTINGS_FOR_BOTH),
        // The newer label wins even when an older core chip sits on the bus.
        e2e_row{"both core labels fitted", {"lock", "core"}, 6, "", found("core", "2-0050") + uninit("core")}
            .on(board({emu_core_chip(1), at(emu_core_chip(2), 2, 0x50, 1)}))
            .listed(2),
    });
}

TEST(Lookup, FindsTheChipByLabelAtItsAddress) {
    const auto get_sn = [](const char *what, const emu_headset &hs, int status, const std::string &err) {
        return e2e_row{what, {"get", "unit_sn"}, status, "", err}.on(hs);
    };
    const std::string core_missing = label_missing("core_eeprom"), strap_missing = label_missing("strap_eeprom");
    const std::string uninit_core = FOUND_CORE + uninit("core");
    // The bus directory exists but is a plain file.
    const auto base_is_a_file = [] {
        std::filesystem::remove(SYSFS);
        std::filesystem::create_directories("/sys/bus/i2c");
        std::ofstream(SYSFS) << "not a directory\n";
    };
    play({
        get_sn("label child with its number", gens(), 6, uninit_core).listed(1),
        get_sn("any number after the label", board({at(emu_core_chip(2), 1, 0x50, 42)}), 6, uninit_core)
            .listed(1),
        e2e_row{"listing in reverse", {"get", "strap_sn"}, 6, "", FOUND_STRAP + uninit("strap")}
            .on(board(emu_standard_headset().chips, true))
            .listed(LISTINGS_FOR_BOTH),
        get_sn("either address serves either board",
               board({at(emu_core_chip(2), 1, 0x51), at(emu_strap_chip(2), 1, 0x50, 1)}), 6,
               found("core", "1-0051") + uninit("core")).listed(1),
        get_sn("another bus", board({at(emu_core_chip(1), 4, 0x50)}), 6, found("core", "4-0050") + uninit("core"))
            .listed(1),
        get_sn("label absent", gens(0, 2), 11, core_missing).listed(2),
        e2e_row{"strap label absent", {"get", "strap_sn"}, 11, "", strap_missing}.on(2, 0).listed(3),
        e2e_row{"strap label absent, region command", {"reset", "strap"}, 11, "", strap_missing}
            .on(2, 0)
            .listed(3),
        get_sn("unbound device at 0x50",
               board({of_kind(at(emu_core_chip(2), 2, 0x50), emu_kind::driverless)}), 11, core_missing)
            .listed(2),
        get_sn("labelled chip at another address", board({at(emu_core_chip(2), 1, 0x52)}), 11, core_missing)
            .listed(2),
        get_sn("first-generation chip at another address", board({at(emu_core_chip(1), 1, 0x57)}), 11,
               core_missing)
            .listed(2),
        get_sn("plain directory is not a device", board({of_kind(emu_core_chip(2), emu_kind::plain_dir)}), 11,
               core_missing).listed(2),
        get_sn("plain directory with the first-generation label",
               board({of_kind(emu_core_chip(1), emu_kind::plain_dir)}), 11, core_missing).listed(2),
        get_sn("label but no eeprom file", board({of_kind(emu_core_chip(2), emu_kind::no_eeprom_file)}), 4,
               FOUND_CORE + open_failed("core")).listed(1),
        e2e_row{"label but no eeprom file, strap", {"unlock", "strap"}, 4, "",
                FOUND_STRAP + open_failed("strap", "1-0051")}
            .on(board({emu_core_chip(2), of_kind(emu_strap_chip(2), emu_kind::no_eeprom_file)}))
            .listed(LISTINGS_FOR_BOTH),
        get_sn("device link to nothing", board({{.kind = emu_kind::dangling, .bus = 2, .address = 0x50}}), 254,
               repeat(opendir_failed(2, SYSFS + "/2-0050"), 2)).listed(2),
        get_sn("bus directory is a file", no_bus(), 236, repeat(opendir_failed(20), 2))
            .preparing(base_is_a_file)
            .listed(2),
    });
}

TEST(Lookup, NoBusDirectoryFailsEveryCommandThatNeedsAChip) {
    const auto fails = [](std::vector<std::string> args, int listings) {
        return e2e_row{args[0] + " " + args[1], args, 254, "", repeat(NO_SYSFS, listings)}
            .on(no_bus())
            .listed(listings);
    };
    play({
        fails({"get", "unit_sn"}, 2), fails({"get", "strap_sn"}, 3), fails({"set", "unit_sn", "X1"}, 2),
        fails({"set", "strap_sn", "X1"}, 3), fails({"reset", "core"}, 3), fails({"lock", "b"}, 3),
        fails({"unlock", "strap"}, 3), fails({"upgrade", "core"}, 3),
        // Every item of both boards fails alike and is reported each time:
        // one line for each generation probe, one for each first-generation item.
        e2e_row{"print everything", {"print_all"}, 0, HEADINGS, repeat(NO_SYSFS, 41)}.on(no_bus()).listed(41),
        e2e_row{"a handler's negative status leaves as its low byte", {"get", "unit_sn"}, 254, "",
                repeat(NO_SYSFS, 2)}.on(no_bus()).listed(2),
    });
}

TEST(Lookup, EachRegionIsFoundOncePerRun) {
    play({
        // Three regions share the core chip; each resolves it for itself,
        // from the listing that the core probe made.
        e2e_row{"blank headset", {"print_all"}, 0, HEADINGS, golden("print_all-blank.err")}
            .listed(LISTINGS_FOR_BOTH),
        e2e_row{"no EEPROM fitted", {"print_all"}, 0, HEADINGS,
                label_missing("core_eeprom") + label_missing("strap_eeprom")}.on(0, 0).listed(4),
        e2e_row{"chips that will not open", {"print_all"}, 0, HEADINGS,
                found("bootloader") + open_failed("bootloader") + FOUND_STRAP + open_failed("strap", "1-0051")}
            .on(board({of_kind(emu_core_chip(2), emu_kind::no_eeprom_file),
                       of_kind(at(emu_strap_chip(2), 1, 0x51, 1), emu_kind::no_eeprom_file)}))
            .listed(LISTINGS_FOR_BOTH),
    });
}

// The device that a fresh listing finds for a label: the first entry, in
// listing order, that links to a device at 0x50 or 0x51 whose directory holds
// a child named after the label.
std::string first_listed_with(const std::string &label) {
    namespace fs = std::filesystem;
    for (const std::string &name : listed_devices()) {
        const fs::path device = SYSFS + "/" + name;
        if (!(name.ends_with("0050") || name.ends_with("0051")) || !fs::is_symlink(device)) continue;
        std::error_code ec;
        for (const fs::directory_entry &child : fs::directory_iterator(device, ec))
            if (child.path().filename().string().starts_with(label)) return name;
    }
    return "";
}

TEST(Lookup, FirstListedMatchWins) {
    std::vector<std::string> chosen;
    for (bool reverse : {false, true}) {
        SCOPED_TRACE(reverse ? "reverse listing" : "kernel listing");
        ASSERT_TRUE(mount_headset(board({emu_core_chip(2), at(emu_core_chip(2), 3, 0x50, 1)}, reverse)));
        const std::string first = first_listed_with("core_v2_eeprom");
        ASSERT_FALSE(first.empty());
        chosen.push_back(first);
        const run_result r = run_vellum({"get", "unit_sn"});
        EXPECT_EQ(r.status, 6);
        EXPECT_EQ(r.err, found("core", first) + uninit("core"));
        const std::vector<xfer_call> calls = transfers(r);
        EXPECT_FALSE(calls.empty());
        for (const xfer_call &c : calls) EXPECT_EQ(c.device, first);
    }
    EXPECT_NE(chosen[0], chosen[1]) << "both listing orders should have been tried";
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
            ASSERT_TRUE(mount_headset(board(b.chips, reverse)));
            for (const auto &c : calls) {
                SCOPED_TRACE(std::string(b.what) + (reverse ? ", reverse listing: " : ": ") +
                             c.args[0] + " " + c.args[1]);
                const std::string device = first_listed_with(c.label);
                ASSERT_FALSE(device.empty());
                const run_result r = run_vellum(c.args);
                EXPECT_EQ(r.status, 6);
                EXPECT_EQ(r.err, found(c.region, device) + uninit(c.region));
                EXPECT_LE(count_calls(r, "opendir " + SYSFS), c.most_listings);
            }
        }
    }
}

// A word names the first item whose name it begins, core table first; the
// strap is looked for only when no core item matches. Choosing the core
// generation lists the I2C devices; finding the chip uses that listing, and
// so does the strap's probe when it comes: one listing per command.
TEST(ItemNames, PrefixesSelectTheFirstItemAndOnlyAStrapWordProbesTheStrap) {
    const std::vector<placed> seeds = command_line_items(), reset = reset_regions(2, 2);
    const auto get = [&](const std::string &word, int status, const std::string &out, const std::string &err) {
        return e2e_row{"get " + word, {"get", word}, status, out, err}.holding(seeds);
    };
    play({
        get("unit_snX", 7, "", not_found("unit_snX", "get")),
        get("Unit_sn", 7, "", not_found("Unit_sn", "get")),
        get("left_audio_admittance", 7, "", not_found("left_audio_admittance", "get")).listed(LISTINGS_FOR_BOTH),
        get("prox", 0, "300", FOUND_CORE + shown("prox_near")).listed(1),
        get("strap", 0, "STRAP-1", FOUND_STRAP + shown("strap_sn")).listed(LISTINGS_FOR_BOTH),
        get("b", 0, "EVT3", found("bootloader") + shown("board_revision")),
        get("left_audio", 5, "", FOUND_STRAP + not_set("left_audio_sn")),
        get("unit_sn", 5, "", FOUND_CORE + not_set("unit_sn")).holding(reset).listed(1),
        get("nosuch", 7, "", not_found("nosuch", "get")).holding(reset).listed(LISTINGS_FOR_BOTH),
        // The empty word (an unset variable) names no item, before any
        // device is looked at.
        get("", 7, "", not_found("", "get")).listed(0),
        get("", 7, "", not_found("", "get")).holding(reset).listed(0),
        get("strap_sn", 5, "", FOUND_STRAP + not_set("strap_sn")).holding(reset).listed(LISTINGS_FOR_BOTH),
        e2e_row{"get, the empty word and another", {"get", "", "x"}, 7, "", not_found("", "get")}.holding(seeds),
        e2e_row{"set, the empty word", {"set", "", "EVT9"}, 7, "", not_found("", "set")}.holding(seeds),
        e2e_row{"set, the empty word alone", {"set", ""}, 7, "", not_found("", "set")}.holding(seeds),
        e2e_row{"set, the empty word and a value", {"set", "", "1"}, 7, "", not_found("", "set")}
            .holding(reset).listed(0),
        e2e_row{"set an unknown item", {"set", "nosuch", "1"}, 7, "", not_found("nosuch", "set")}.holding(seeds),
        e2e_row{"set a core item", {"set", "unit_sn", "Z"}, 0, "", FOUND_CORE}
            .holding(reset).writing({{&CORE, image_for(CORE, {field("unit_sn", "Z")})}})
            .listed(1),
        e2e_row{"a core item's word count", {"set", "unit_sn"}, 7, "",
                "\nset string command requires an item value!\n"}
            .holding(reset).listed(1),
        e2e_row{"no strap chip", {"get", "board_revision"}, 5, "",
                found("bootloader") + not_set("board_revision")}
            .on(2, 0).holding(reset_regions(2, 0)).listed(1),
        e2e_row{"first-generation strap", {"get", "unit_sn"}, 5, "", FOUND_CORE + not_set("unit_sn")}
            .on(2, 1).holding(reset_regions(2, 1)).listed(1),
        e2e_row{"first generation", {"set", "prox_far", "3"}, 0, "", FOUND_CORE}
            .on(1, 1).holding(reset_regions(1, 1))
            .writing({{&CORE, image_for(CORE, {field("prox_far", le16(3))})}})
            .listed(1),
    });
}

TEST(ItemNames, EveryFullNameSelectsItsOwnItem) {
    // Lookup takes the first item in core-then-strap order whose name begins
    // with the typed text, so no name may begin with a later item's name.
    for (const auto &[core, strap] : {std::pair{1, 1}, {1, 2}, {2, 1}, {2, 2}}) {
        static eeprom_session s;
        eeprom_session_init(&s);
        eeprom_session_fix(&s, core, strap);
        std::vector<std::string> order;
        for (const eeprom_value_t *t : {core_values(&s), strap_values(&s)})
            for (; t->name[0] != '\0'; ++t) order.push_back(t->name);
        for (size_t i = 0; i < order.size(); ++i)
            for (size_t j = i + 1; j < order.size(); ++j)
                EXPECT_FALSE(order[i].starts_with(order[j])) << order[j] << " is shadowed by " << order[i];
    }
}

// A region word is a prefix of a region's name, core list first; every
// region command asks for the strap generation too.
TEST(RegionNames, WordsSelectRegionsAndEveryCommandAsksForTheStrap) {
    const auto run = [](std::vector<std::string> args, int status, const std::string &err) {
        std::string what;
        for (const std::string &a : args) what += (what.empty() ? "" : " ") + ("'" + a + "'");
        return e2e_row{what, std::move(args), status, "", err};
    };
    const auto reset = [](const region_fact &r, const std::string &word) {
        return e2e_row{"reset " + word, {"reset", word}, 0, "", found(r) + reseting(r.name)}
            .writing({{&r, image_for(r)}})
            .pwrite_calls(3);
    };
    const auto no_word = [&](std::vector<std::string> args) {
        return run(args, 7, needs_item(args[0])).pwrite_calls(0).listed(0);
    };
    const auto unknown = [&](const std::string &cmd, const std::string &word) {
        return run({cmd, word}, 7, not_found(word, cmd)).pwrite_calls(0);
    };
    play({
        no_word({"reset"}), no_word({"lock", "core", "strap"}), no_word({"unlock"}),
        no_word({"upgrade", "core", "x"}),
        unknown("reset", "cores").listed(LISTINGS_FOR_BOTH), unknown("lock", "Core").listed(LISTINGS_FOR_BOTH),
        unknown("unlock", "straps").listed(LISTINGS_FOR_BOTH),
        reset(CORE, "c").listed(LISTINGS_FOR_BOTH), reset(BOOTLOADER, "b").listed(LISTINGS_FOR_BOTH),
        reset(STRAP_GEN2, "s").listed(LISTINGS_FOR_BOTH), reset(VRCAL, "v").listed(LISTINGS_FOR_BOTH),
        // An unset shell variable must not select the first region: the
        // empty word names none, before any device is looked at.
        unknown("reset", "").listed(0), unknown("lock", "").listed(0), unknown("unlock", "").listed(0),
        unknown("upgrade", "").listed(0),
        run({"unlock", "v"}, 6, found("vrcal") + uninit("vrcal")).pwrite_calls(0).listed(LISTINGS_FOR_BOTH),
        unknown("reset", "vrcal").on(1, 2).listed(1),
        // The second-generation strap label is not in the core probe's
        // listing, so the strap probe lists the bus again.
        reset(CORE, "core").on(1, 1).listed(2),
        reset(STRAP_GEN1, "st").on(2, 1).listed(2),
        run({"reset", "strap"}, 11, label_missing("strap_eeprom")).on(2, 0).pwrite_calls(0),
        run({"reset", "core"}, 254, repeat(NO_SYSFS, 3)).on(no_bus()),  // core probe, strap probe, lookup
        run({"lock", "s"}, 254, repeat(NO_SYSFS, 3)).on(no_bus()),
        run({"upgrade", "vrcal"}, 7, repeat(NO_SYSFS, 2) + not_found("vrcal", "upgrade")).on(no_bus()),
        run({"unlock", "core", "x"}, 7, needs_item("unlock")).on(no_bus()),  // the count comes first
    });
}

// Lookup in the test's own process, with a region of the test's own.
TEST(LookupInProcess, ProbesSilentlyAndMatchesTheWholeLabel) {
    ASSERT_TRUE(mount_headset(emu_standard_headset()));
    testing::internal::CaptureStderr();
    EXPECT_EQ(eeprom_find("core_v2_eeprom", nullptr), 1);
    EXPECT_EQ(eeprom_find("strap_v2", nullptr), 1);  // a label is a prefix
    EXPECT_EQ(eeprom_find("core_eeprom", nullptr), 0);
    EXPECT_EQ(eeprom_find("strap_eeprom", nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(LookupInProcess, SearchesAndReportsOnceThenRetriesOnlyTheOpen) {
    uint8_t buffer[64] = {};
    const eeprom_layout_t layouts[] = {{1, 64}, {-1, -1}};
    uint8_t chip[64] = {};
    eeprom_session session;
    eeprom_session_init(&session);
    session.diag = [](void *, const char *text) { fputs(text, stderr); };
    eeprom_t region = {"test", "core_v2_eeprom", "", -1, 1, layouts, 0, 0, buffer, 0x12345678,
                       chip, 0, false, false, &session, 0};
    const std::string path = SYSFS + "/1-0050/eeprom";

    // The label is there but the file is not: found, then the open fails.
    emu_headset hs = emu_standard_headset();
    hs.chips[0].kind = emu_kind::no_eeprom_file;
    ASSERT_TRUE(mount_headset(hs));
    testing::internal::CaptureStderr();
    EXPECT_EQ(eeprom_open(&region), EEPROM_ERROR_OPEN);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), found("test") + open_failed("test"));
    EXPECT_EQ(region.path, path);
    EXPECT_LT(region.fd, 0);

    // Once the file is there the known path opens without a new search.
    ASSERT_TRUE(mount_headset(emu_standard_headset()));
    testing::internal::CaptureStderr();
    EXPECT_EQ(eeprom_open(&region), EEPROM_SUCCESS);
    EXPECT_GE(region.fd, 0);
    // An open region stays open: nothing is searched or printed again.
    hs.base_dir = false;
    ASSERT_TRUE(mount_headset(hs));
    EXPECT_EQ(eeprom_open(&region), EEPROM_SUCCESS);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    close(region.fd);
}

}  // namespace
