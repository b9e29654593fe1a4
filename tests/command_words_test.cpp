// The command line: the command word and the usual options select the
// handler, and a command with the wrong number of words prints its usage
// before any EEPROM is looked at.
#include "end_to_end.h"

namespace {

const std::string NO_SUCH_COMMAND = "\n ** Command not found. (Type 'help')\n" + USAGE;

TEST(CommandWords, TheFirstWordSelectsTheHandler) {
    // No bus directory: a command that touches no EEPROM prints nothing about it.
    const auto run = [](const char *what, std::vector<std::string> args, int status, const std::string &out,
                        const std::string &err = "") {
        return e2e_row{what, std::move(args), status, out, err}.on(no_bus()).listed(0);
    };
    const std::string v = version_line();
    play({
        run("no command word", {}, 0, USAGE),
        run("unknown word", {"frobnicate"}, 7, NO_SUCH_COMMAND),
        run("a command's beginning is not the command", {"hel"}, 7, NO_SUCH_COMMAND),
        run("empty word", {""}, 7, NO_SUCH_COMMAND),
        run("case matters", {"Version"}, 7, NO_SUCH_COMMAND),
        run("only the first word is a command", {"frobnicate", "version"}, 7, NO_SUCH_COMMAND),
        run("version", {"version"}, 0, v),
        run("version with a suffix", {"versionx"}, 0, v),
        run("version ignores words", {"version", "extra", "words"}, 0, v),
        // The usual options, as exact words only.
        run("--version", {"--version"}, 0, v),
        run("-V", {"-V", "extra"}, 0, v),
        run("an option with a suffix", {"--helpme"}, 7, NO_SUCH_COMMAND),
        run("a short option with a suffix", {"-hx"}, 7, NO_SUCH_COMMAND),
        run("-v is not -V", {"-v"}, 7, NO_SUCH_COMMAND),
        run("an option after the command word", {"versionx", "--help"}, 0, v),
        run("get with a suffix", {"getx"}, 7, "", needs_item("get")),
        run("unlock does not also run lock", {"unlock"}, 7, "", needs_item("unlock")),
        run("restore does not also run reset", {"restores"}, 7, "",
            needs("restore", "a region and a file name")),
        run("lock with a suffix", {"locked"}, 7, "", needs_item("lock")),
    });
}

TEST(CommandWords, ItemCommandsTakeTheirWordCounts) {
    const std::vector<placed> seeds = command_line_items();
    const auto run = [&](std::vector<std::string> args, int status, const std::string &out,
                         const std::string &err) {
        std::string what;
        for (const std::string &a : args) what += (what.empty() ? "" : " ") + a;
        return e2e_row{what, std::move(args), status, out, err}.holding(seeds);
    };
    const std::string core = found("core");
    play({
        run({"get", "unit_sn", "extra"}, 0, "ABCDEFGHIJKLMN", core + shown("unit_sn")),
        run({"get", "unit_sn", "a", "b"}, 7, "", needs_item("get")),
        run({"get"}, 7, "", needs_item("get")),
        run({"get", "mac_addr_ble", "x"}, 5, "", core + not_set("mac_addr_ble")),
        run({"set"}, 7, "", needs("set", "an item and atleast one value")),
        run({"set", "unit_sn"}, 7, "", "\nset string command requires an item value!\n"),
    });
}

}  // namespace
