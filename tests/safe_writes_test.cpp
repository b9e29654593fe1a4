// Writes that can be trusted, end to end: processes racing on one region on a
// slowed chip, a region locked by someone else, a chip that swallows writes,
// standard descriptors closed at start, and standard output that fails.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "headset_fixtures.h"

namespace {

using bytes = std::vector<uint8_t>;
using command = std::vector<std::string>;

// A slow chip: a read call takes 0.2 ms, a write call 10 ms, so other
// processes find a store under way.
const std::string SLOW = "EMU_EEPROM_DELAY_US=200:10000";
const std::string FC = found("core");
const std::string CORE_PATH = "/sys/bus/i2c/devices/1-0050/eeprom";
const std::string LOCK_MSG = "Lock core EEPROM " + CORE_PATH + " Failed on: 11\n";
const std::string VERIFY = "EEPROM verify failed\n";

struct timed_run {
    run_result r;
    double seconds;
};

// Runs every command at once, each `times` times in a row, and waits for
// all of them. Run k of command i is at [i * times + k].
std::vector<timed_run> run_together(const std::vector<command> &commands,
                                    const std::vector<std::string> &env = {}, size_t times = 1) {
    std::vector<timed_run> runs(commands.size() * times);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < commands.size(); i++)
        threads.emplace_back([&, i] {
            for (size_t k = 0; k < times; k++) {
                timed_run &run = runs[i * times + k];
                const auto start = std::chrono::steady_clock::now();
                run.r = run_vellum(commands[i], env);
                run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                                  .count();
            }
        });
    for (std::thread &t : threads) t.join();
    return runs;
}

// vellum with the shell's redirections applied first (">&-", ">/dev/full").
run_result run_redirected(const std::string &redirections, const command &args) {
    command sh = {"-c", "exec \"$0\" \"$@\" " + redirections, VELLUM_COMMAND};
    sh.insert(sh.end(), args.begin(), args.end());
    return run_program("/bin/sh", sh);
}

std::string temp_path(const std::string &tag) {
    return "/tmp/vellum-safe-" + tag + "-" + std::to_string(getpid());
}

const image_item SN_1 = {.offset = 24, .bytes = text_bytes("SN-1", 14)};

TEST(SafeWrites, ParallelSetsOfOneRegionKeepEveryValue) {
    emu_headset hs = headset();
    seed(hs, CORE);
    // Eight items of the core region, strings, MAC addresses and numbers:
    // the value of each in a round, and what a get prints.
    const std::vector<std::string> items = {"mpcba_sn", "unit_sn", "unit_config", "mac_addr_wifi",
                                            "mac_addr_ble", "prox_near", "prox_mid", "prox_far"};
    auto value = [](size_t i, int round) {
        char text[32];
        if (i < 3)
            std::snprintf(text, sizeof text, "R%d%zu", round, i);
        else if (i < 5)
            std::snprintf(text, sizeof text, "0%d:00:00:00:00:0%zu", round, i);
        else
            std::snprintf(text, sizeof text, "%d%zu", round, i);
        return std::string(text);
    };
    for (int round = 1; round <= 3; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::vector<command> sets, gets;
        for (size_t i = 0; i < items.size(); i++) {
            sets.push_back({"set", items[i], value(i, round)});
            gets.push_back({"get", items[i]});
        }
        for (const timed_run &t : run_together(sets, {SLOW})) {
            EXPECT_EQ(t.r.status, 0) << t.r.err;
            EXPECT_EQ(t.r.err, FC);
        }
        const std::vector<timed_run> got = run_together(gets);
        for (size_t i = 0; i < items.size(); i++) {
            EXPECT_EQ(got[i].r.status, 0) << got[i].r.err;
            EXPECT_EQ(got[i].r.out, value(i, round)) << items[i];
        }
    }
}

TEST(SafeWrites, ReadersRacingWritersNeverFail) {
    emu_headset hs = headset();
    const bytes cal = {'C', 'A', 'L'};
    seed(hs, VRCAL, {{.offset = 9, .bytes = blob_field(cal, 2147)}});
    seed(hs, CORE, {SN_1});
    const std::string a = temp_path("a"), b = temp_path("b");
    write_file(a, bytes(3000, 0x11));
    write_file(b, bytes(3000, 0x22));
    std::vector<command> commands = {
        {"set", "xrservice", a}, {"set", "xrservice", b}, {"set", "unit_sn", "SN-2"}};
    for (int i = 0; i < 3; i++) {
        commands.push_back({"get", "device_config", temp_path("out" + std::to_string(i))});
        commands.push_back({"get", "unit_sn"});
    }
    // Each keeps going for a while, so reads fall into every part of a store.
    const size_t times = 8;
    const std::vector<timed_run> runs = run_together(commands, {SLOW}, times);
    for (size_t i = 0; i < runs.size(); i++) {
        const command &c = commands[i / times];
        const run_result &r = runs[i].r;
        EXPECT_EQ(r.status, 0) << c[0] << " " << c[1] << ": " << r.err;
        if (c == command{"get", "unit_sn"}) {
            EXPECT_TRUE(r.out == "SN-1" || r.out == "SN-2") << r.out;
        } else if (c[0] == "get") {
            EXPECT_EQ(read_file(c[2]), cal);
        }
    }
    for (int i = 0; i < 3; i++) std::remove(temp_path("out" + std::to_string(i)).c_str());
    std::remove(a.c_str());
    std::remove(b.c_str());
}

TEST(SafeWrites, LockHeldElsewhereIsWaitedForTenSecondsThenFailsAsAnOpen) {
    emu_headset hs = headset();
    seed(hs, BOOTLOADER, {{.offset = 9, .bytes = text_bytes("EVT1", 32)}});
    seed(hs, CORE, {SN_1});
    struct flock core_bytes = {};
    core_bytes.l_type = F_WRLCK;
    core_bytes.l_start = CORE.offset;
    core_bytes.l_len = CORE.size;

    // Another process holds the region for half a second: the set waits.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        const int fd = open(CORE_PATH.c_str(), O_RDWR);
        const bool locked = fd >= 0 && fcntl(fd, F_OFD_SETLK, &core_bytes) == 0;
        if (write(ready[1], locked ? "1" : "0", 1) != 1 || !locked) _exit(1);
        usleep(500000);
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1');
    close(ready[0]);
    close(ready[1]);
    expect_run({{"set", "unit_sn", "SN-2"}, 0, "", FC});
    int wstatus = 0;
    ASSERT_EQ(waitpid(holder, &wstatus, 0), holder);
    EXPECT_EQ(wstatus, 0);

    // Held for good: every command on the region gives up after the bound,
    // as after a failed open; the bootloader region of the same chip is free.
    const int fd = open(CORE_PATH.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(fcntl(fd, F_OFD_SETLK, &core_bytes), 0);
    const bytes before = read_chip(hs.chips[0]);
    // Not while print_all runs: it holds the bootloader region while it
    // waits for the core.
    const std::vector<timed_run> free_region = run_together({{"get", "board_revision"}});
    EXPECT_EQ(free_region[0].r.out, "EVT1");
    EXPECT_LT(free_region[0].seconds, 5.0);
    std::string strap_uninit = found("strap", "1-0051");
    for (size_t i = 0; i < STRAP_ITEMS_GEN2.size(); i++)
        strap_uninit += "EEPROM Uninitialized, run:\n\tvellum reset strap\n";
    const expected_run runs[] = {
        {{"get", "unit_sn"}, 4, "", FC + LOCK_MSG},
        {{"set", "unit_sn", "SN-3"}, 4, "", FC + LOCK_MSG},
        {{"reset", "core"}, 4, "", FC + LOCK_MSG},
        {{"print_all"}, 0, "Core EEPROM Data:\nEVT1\nStrap EEPROM Data:\n",
         found("bootloader") + "board_revision: \nboard_minor has not been set!\n"
                               "imu_rev has not been set!\n" + FC + LOCK_MSG + strap_uninit},
    };
    std::vector<command> commands;
    for (const expected_run &e : runs) commands.push_back(e.args);
    const std::vector<timed_run> got = run_together(commands);
    for (size_t i = 0; i < got.size(); i++) {
        SCOPED_TRACE(commands[i][0]);
        EXPECT_EQ(got[i].r.status, runs[i].status);
        EXPECT_EQ(got[i].r.out, runs[i].out);
        EXPECT_EQ(got[i].r.err, runs[i].err);
        if (runs[i].status == 4) {
            EXPECT_GE(got[i].seconds, 9.9);
        }
    }
    EXPECT_EQ(read_chip(hs.chips[0]), before);
    close(fd);
}

TEST(SafeWrites, ChipSwallowingWritesFailsEveryStore) {
    const std::string file = temp_path("blob");
    write_file(file, {'N', 'E', 'W'});
    const std::vector<image_item> cal = {{.offset = 9, .bytes = blob_field({'C', 'A', 'L'}, 2147)}};
    struct row {
        const region_spec *r;
        std::vector<image_item> items;
        uint32_t version;
        uint8_t lock;
        expected_run run;
    };
    const row rows[] = {
        {&CORE, {SN_1}, 5, 0xFF, {{"set", "unit_sn", "SN-2"}, 3, "", FC + VERIFY}},
        {&VRCAL, cal, 1, 0xFF, {{"set", "device_config", file}, 3, "", found("vrcal") + VERIFY}},
        {&CORE, {SN_1}, 5, 0xFF, {{"reset", "core"}, 3, "", FC + " Reseting core\n" + VERIFY}},
        {&CORE, {SN_1}, 5, 0xFF, {{"lock", "core"}, 3, "", FC + " Locking core\n" + VERIFY}},
        {&CORE, {SN_1}, 5, 0x00, {{"unlock", "core"}, 3, "", FC + " Unlocking core\n" + VERIFY}},
        {&CORE, {SN_1}, 4, 0xFF, {{"upgrade", "core"}, 3, "",
          FC + "Invalidating New Entry prox_noise\nUpgrading core from 4 to 5\n" + VERIFY}},
    };
    for (const row &c : rows) {
        emu_headset hs = headset();
        seed(hs, *c.r, c.items, c.version, c.lock);
        const bytes before = read_chip(hs.chips[0]);
        expect_run(c.run, {"EMU_EEPROM_WRITE_PROTECT=1"});
        EXPECT_EQ(read_chip(hs.chips[0]), before);
    }
    std::remove(file.c_str());
}

TEST(SafeWrites, ClosedStandardDescriptorsNeverReachTheChip) {
    emu_headset hs = headset();
    seed(hs, CORE, {SN_1});
    seed(hs, VRCAL, {{.offset = 9, .bytes = blob_field({'C', 'A', 'L'}, 2147)}});
    struct row {
        std::string redirections;
        expected_run run;
        bool writes = false;  // stores SN-2
    };
    const row rows[] = {
        {"<&-", {{"get", "unit_sn"}, 0, "SN-1", FC + "unit_sn: \n"}},
        {">&-", {{"get", "unit_sn"}, 3, "", FC + "unit_sn: Write Failed!\n"}},
        {"2>&-", {{"get", "unit_sn"}, 0, "SN-1", ""}},
        {"<&- >&- 2>&-", {{"get", "unit_sn"}, 3, "", ""}},
        {"2>&-", {{"set", "unit_sn", "SN-0123456789ABC"}, 7, "", ""}},
        {"<&-", {{"set", "device_config", "/dev/stdin"}, 2, "", "\nRead Failed, errno: 21\n"}},
        {">&-", {{"get", "device_config", "/dev/stdout"}, 7, "",
                 found("vrcal") + "\nFailed to create file /dev/stdout for writing on error: 21\n"}},
        {">&-", {{"help"}, 3, "", "Write Failed!\n"}},
        {"<&- >&- 2>&-", {{"set", "unit_sn", "SN-2"}, 0, "", ""}, true},
    };
    for (const row &c : rows) {
        SCOPED_TRACE(c.redirections + " " + c.run.args[0] + " " + c.run.args.back());
        bytes expected = read_chip(hs.chips[0]);
        if (c.writes) {
            const bytes image = region_image(CORE.size, CORE.magic, 5, 0xFF,
                                             {{.offset = 24, .bytes = text_bytes("SN-2", 14)}});
            std::copy(image.begin(), image.end(), expected.begin() + CORE.offset);
        }
        const run_result r = run_redirected(c.redirections, c.run.args);
        EXPECT_EQ(r.status, c.run.status);
        EXPECT_EQ(r.out, c.run.out);
        EXPECT_EQ(r.err, c.run.err);
        EXPECT_EQ(difference(read_chip(hs.chips[0]), expected), "");
    }
}

TEST(SafeWrites, FullStandardOutputFailsWhatWasToBePrinted) {
    emu_headset hs = headset();
    seed(hs, CORE, {SN_1});
    const std::string FAILED = "Write Failed!\n";
    // print_all lists everything first, then reports once.
    const std::string listing = run_vellum({"print_all"}).err;
    const expected_run rows[] = {
        {{"get", "unit_sn"}, 3, "", FC + "unit_sn: " + FAILED},
        {{"get", "mpcba_sn"}, 5, "", FC + "mpcba_sn has not been set!\n"},
        {{"set", "unit_sn", "SN-1"}, 0, "", FC},
        {{"help"}, 3, "", FAILED},
        {{"version"}, 3, "", FAILED},
        {{"--help"}, 3, "", FAILED},
        {{"-V"}, 3, "", FAILED},
        {{}, 3, "", FAILED},
        {{"frobnicate"}, 3, "", FAILED},
        {{"print_all"}, 3, "", listing + FAILED},
    };
    for (const expected_run &e : rows) {
        SCOPED_TRACE(e.args.empty() ? "no words" : e.args[0]);
        const run_result r = run_redirected(">/dev/full", e.args);
        EXPECT_EQ(r.status, e.status);
        EXPECT_EQ(r.out, e.out);
        EXPECT_EQ(r.err, e.err);
    }
}

}  // namespace
