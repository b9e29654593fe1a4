// The one row type of the end-to-end tables: a headset and what its chips
// and a scratch directory hold, one run of the tool, and what the streams,
// the status, the chips, the files and the call log show afterwards.
//
//   play({
//       {"c is core", {"reset", "c"}, 0, "", found("core") + reseting("core")},
//       e2e_row{"locked", {"set", "unit_sn", "X"}, 5, "", found("core") + locked("unit_sn")}
//           .holding({{&CORE, image_for(CORE, {}, 0, 0x00)}})
//           .pwrite_calls(0),
//   });
//
// Words, texts and standard input have %D (the scratch directory) and %V
// (the command that runs vellum) expanded, the files written before the run
// %D; in the expected
// streams %d matches any number (an errno the test cannot predict), and
// golden("NAME") stands for the file tests/expected/NAME.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "headset_fixtures.h"

// `data` at byte `at` of a region (or of a whole chip: CORE_CHIP, STRAP_CHIP).
struct placed {
    const region_fact *region;
    bytes data;
    uint32_t at = 0;
};
// Files in the scratch directory; nullopt: the file does not exist.
using files = std::vector<std::pair<std::string, std::optional<bytes>>>;

struct e2e_row {
    std::string what;
    // The command's words; {"sh", script} runs the script with /bin/sh.
    std::vector<std::string> args;
    int status = 0;
    std::string out = "", err = "";

    emu_headset hw = gens(2, 2);  // mounted fresh for the row
    std::vector<placed> seeds = {};
    files before = {};
    std::vector<std::string> env = {};
    std::string input = "";
    std::vector<placed> writes = {};  // everything the run changes on the chips
    files after = {};
    // Checks of the call log, -1 / nullopt when not made: opens of the bus
    // directory (LISTINGS_FOR_BOTH: see there), pread and pwrite calls, and
    // every transfer line ("pread 1-0050 9 256 -> 9").
    int listings = -1, preads = -1, pwrites = -1;
    std::optional<std::vector<std::string>> xfers = std::nullopt;
    bool continues = false;              // on the headset and files the previous row left
    std::function<void()> prepare = {};  // after mounting and seeding
    std::vector<e2e_row> next = {};      // run after it, continuing it

    e2e_row on(int core, int strap) const {
        return with([&](e2e_row &r) { r.hw = gens(core, strap); });
    }
    e2e_row on(const emu_headset &h) const {
        return with([&](e2e_row &r) { r.hw = h; });
    }
    e2e_row holding(std::vector<placed> s) const {
        return with([&](e2e_row &r) { r.seeds = std::move(s); });
    }
    e2e_row with_files(files f) const {
        return with([&](e2e_row &r) { r.before = std::move(f); });
    }
    e2e_row under(std::vector<std::string> e) const {
        return with([&](e2e_row &r) { r.env = std::move(e); });
    }
    e2e_row reading(std::string in) const {
        return with([&](e2e_row &r) { r.input = std::move(in); });
    }
    e2e_row writing(std::vector<placed> w) const {
        return with([&](e2e_row &r) { r.writes = std::move(w); });
    }
    e2e_row leaving(files f) const {
        return with([&](e2e_row &r) { r.after = std::move(f); });
    }
    e2e_row listed(int n) const {
        return with([&](e2e_row &r) { r.listings = n; });
    }
    e2e_row pread_calls(int n) const {
        return with([&](e2e_row &r) { r.preads = n; });
    }
    e2e_row pwrite_calls(int n) const {
        return with([&](e2e_row &r) { r.pwrites = n; });
    }
    e2e_row transfers_are(std::vector<std::string> t) const {
        return with([&](e2e_row &r) { r.xfers = std::move(t); });
    }
    e2e_row then() const {
        return with([](e2e_row &r) { r.continues = true; });
    }
    e2e_row followed_by(const e2e_row &n) const {
        return with([&](e2e_row &r) { r.next.push_back(n); });
    }
    e2e_row preparing(std::function<void()> f) const {
        return with([&](e2e_row &r) { r.prepare = std::move(f); });
    }

private:
    template <typename F>
    e2e_row with(F change) const {
        e2e_row copy = *this;
        change(copy);
        return copy;
    }
};

// Runs the rows in order, each on a fresh headset and scratch directory
// unless it continues the previous one, and checks everything it says.
void play(const std::vector<e2e_row> &rows);

// An expected text kept in tests/expected/NAME (see tests/expected/README).
std::string golden(const std::string &name);
// Compares `actual` with the golden file, or writes it there when the test
// binary runs with VELLUM_REGENERATE=1. "@VERSION@" in the file stands for
// the project's version, "%D" for the scratch directory `dir`.
void expect_golden(const std::string &name, const std::string &actual, const std::string &dir = "");

// A pread or pwrite line of the call log, on the core chip unless given.
std::string xfer(const char *op, size_t count, long offset, const std::string &result,
                 const std::string &device = "1-0050");
inline std::string rd(size_t n, long at) { return xfer("pread", n, at, std::to_string(n)); }
inline std::string wr(size_t n, long at) { return xfer("pwrite", n, at, std::to_string(n)); }

// Every region of the fitted chips (0: none) with a valid image of its
// newest layout, as a reset leaves it, holding the items given for it.
using region_items = std::vector<std::pair<const region_fact *, image_item>>;
std::vector<placed> reset_regions(int core, int strap, const region_items &items = {});
// The standard headset with every region reset and the items that the
// command-line tables read: a serial with no terminator, a number set, one
// not set, IPD limits at the ends of their range, a strap serial.
std::vector<placed> command_line_items();
