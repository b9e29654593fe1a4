// A region's lock, end to end: processes racing on one region of a slowed
// chip lose nothing and never fail, and a region locked by someone else is
// waited for up to 10 seconds, then fails as a failed open. The runs here
// overlap in time, so they are not rows of a table.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "end_to_end.h"

namespace {

using command = std::vector<std::string>;

// A slow chip: a read call takes 0.2 ms, a write call 10 ms, so other
// processes find a store under way.
const std::string SLOW = "EMU_EEPROM_DELAY_US=200:10000";
const std::string FC = found("core");
const std::string CORE_PATH = SYSFS + "/1-0050/eeprom";
const std::string LOCK_MSG = "Lock core EEPROM " + CORE_PATH + " Failed on: 11\n";

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
                run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            }
        });
    for (std::thread &t : threads) t.join();
    return runs;
}

std::string temp_path(const std::string &tag) {
    return "/tmp/vellum-safe-" + tag + "-" + std::to_string(getpid());
}

const image_item SN_1 = field("unit_sn", "SN-1");

TEST(RegionLocks, ParallelSetsOfOneRegionKeepEveryValue) {
    emu_headset hs = headset();
    seed(hs, CORE);
    // Eight items of the core region, strings, MAC addresses and numbers:
    // the value of each in a round, and what a get prints.
    const std::vector<std::string> items = {"mpcba_sn",     "unit_sn",   "unit_config", "mac_addr_wifi",
                                            "mac_addr_ble", "prox_near", "prox_mid",    "prox_far"};
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

TEST(RegionLocks, ReadersRacingWritersNeverFail) {
    emu_headset hs = headset();
    const bytes cal = text("CAL");
    seed(hs, VRCAL, {blob("device_config", cal)});
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

TEST(RegionLocks, HeldElsewhereIsWaitedForTenSecondsThenFailsAsAnOpen) {
    emu_headset hs = headset();
    seed(hs, BOOTLOADER, {field("board_revision", "EVT1")});
    seed(hs, CORE, {SN_1});
    struct flock core_bytes = {};
    core_bytes.l_type = F_WRLCK;
    core_bytes.l_start = CORE.offset;
    core_bytes.l_len = CORE.size();

    // Another process holds the region for half a second: the set waits.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        const int fd = open(CORE_PATH.c_str(), O_RDWR);
        const bool held = fd >= 0 && fcntl(fd, F_OFD_SETLK, &core_bytes) == 0;
        if (write(ready[1], held ? "1" : "0", 1) != 1 || !held) _exit(1);
        usleep(500000);
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1');
    close(ready[0]);
    close(ready[1]);
    const run_result waited = run_vellum({"set", "unit_sn", "SN-2"});
    EXPECT_EQ(waited.status, 0) << waited.err;
    EXPECT_EQ(waited.out, "");
    EXPECT_EQ(waited.err, FC);
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
    const e2e_row runs[] = {
        {"get", {"get", "unit_sn"}, 4, "", FC + LOCK_MSG},
        {"set", {"set", "unit_sn", "SN-3"}, 4, "", FC + LOCK_MSG},
        {"reset", {"reset", "core"}, 4, "", FC + LOCK_MSG},
        {"print_all",
         {"print_all"},
         0,
         "Core EEPROM Data:\nEVT1\nStrap EEPROM Data:\n",
         found("bootloader") + shown("board_revision") + not_set("board_minor") + not_set("imu_rev") + FC +
             LOCK_MSG + found(STRAP_GEN2) + repeat(uninit("strap"), STRAP_GEN2_ITEMS.size())},
    };
    std::vector<command> commands;
    for (const e2e_row &e : runs) commands.push_back(e.args);
    const std::vector<timed_run> got = run_together(commands);
    for (size_t i = 0; i < got.size(); i++) {
        SCOPED_TRACE(runs[i].what);
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

}  // namespace
