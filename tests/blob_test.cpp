// Calibration blobs end to end: files moved into and out of the vrcal region
// of the second-generation core by the real binary. A blob field is a 16-bit
// little-endian data length, the data and zeros to the end of the field; the
// device bytes are checked after every run, because a codec that pads,
// truncates or leaves stale data behind corrupts calibration silently.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "headset_fixtures.h"

namespace {

struct blob_item {
    const char *name;
    uint16_t offset;  // in the vrcal image
    uint16_t length;  // whole field: length word, data, zero padding
};

const blob_item DEVICE_CONFIG = {"device_config", 9, 2147};
const blob_item XRSERVICE = {"xrservice", 2157, 3067};
const blob_item EYETRACKING = {"eyetracking", 5225, 1428};

using bytes = std::vector<uint8_t>;
using blobs = std::vector<image_item>;

bytes text(std::string_view s) { return bytes(s.begin(), s.end()); }

// Every byte value turns up, zeros and 0xFF included.
bytes pattern(size_t n, uint8_t seed = 0) {
    bytes out(n);
    for (size_t i = 0; i < n; i++) out[i] = static_cast<uint8_t>(seed + i * 37);
    return out;
}

// What `yes abcdefgh | head -c n` produces.
bytes yes_bytes(size_t n) {
    bytes out;
    while (out.size() < n) {
        const bytes line = text("abcdefgh\n");
        out.insert(out.end(), line.begin(), line.end());
    }
    out.resize(n);
    return out;
}

// A field holding `stored` as its length word, whatever the data.
image_item raw_field(const blob_item &it, uint16_t stored, const bytes &data = {}) {
    bytes field = le16(stored);
    field.insert(field.end(), data.begin(), data.end());
    field.resize(it.length, 0);
    return {.offset = it.offset, .bytes = field};
}

image_item blob(const blob_item &it, const bytes &data) {
    return raw_field(it, static_cast<uint16_t>(data.size()), data);
}

// The core chip: blank, with a vrcal image at 1536 unless `vrcal` is empty.
bytes core_chip(const std::optional<blobs> &vrcal, uint8_t lock) {
    bytes chip(8192, 0xFF);
    if (vrcal) {
        const bytes image = region_image(VRCAL.size, VRCAL.magic, VRCAL.latest, lock, *vrcal);
        std::copy(image.begin(), image.end(), chip.begin() + VRCAL.offset);
    }
    return chip;
}

std::string stored_to(const blob_item &it, const std::string &file) {
    return std::string(it.name) + ": " + file + " written\n";
}

std::string size_refused(long size, int limit) {
    return "\nFile Size too large " + std::to_string(size) + " > " + std::to_string(limit) + "\n";
}

std::string not_set(const blob_item &it) { return std::string(it.name) + " has not been set!\n"; }

std::string set_line(const blob_item &it) {
    return std::string(it.name) + " set, specify filename to save\n";
}

std::string uninit(const std::string &region) {
    return "EEPROM Uninitialized, run:\n\tvellum reset " + region + "\n";
}

using BlobScratch = ScratchTest;
using BlobCodec = BlobScratch;
using BlobRoundTrip = BlobScratch;

struct scratch_file {
    std::string name;            // in the scratch directory
    std::optional<bytes> data;   // nullopt: the file must not exist
};

// A path of 650 characters below the scratch directory.
const std::string LONG_DIRS = std::string(200, 'd') + "/" + std::string(200, 'e');
const std::string LONG_NAME = LONG_DIRS + "/" + std::string(248, 'f');

const std::optional<blobs> BLANK = std::nullopt;  // vrcal never initialised
const std::optional<blobs> UNCHANGED = std::nullopt;

struct blob_row {
    const char *what;
    std::optional<blobs> stored;  // vrcal items before the run, or BLANK
    uint8_t lock;
    std::vector<scratch_file> files;  // present before the run
    // The command; {"sh", script} runs the script through /bin/sh -c.
    std::vector<std::string> args;
    std::string err;
    int status;
    std::optional<blobs> after;  // vrcal items afterwards, or UNCHANGED
    std::vector<scratch_file> files_after = {};
    std::string input = "";  // standard input (a regular file) when not empty
};

TEST_F(BlobCodec, MovesFilesInAndOutOfTheField) {
    const std::string F = found("vrcal");
    const blob_item &DC = DEVICE_CONFIG;
    const blobs old = {blob(DC, text("old calibration"))};
    const blob_row rows[] = {
        // Limits: length - 2 data bytes fit, one more is refused untouched.
        {"largest device_config", blobs{}, 0xFF, {{"f", pattern(2145)}},
         {"set", "device_config", "%D/f"}, F, 0, blobs{blob(DC, pattern(2145))}},
        {"device_config one byte too large", old, 0xFF, {{"f", pattern(2146)}},
         {"set", "device_config", "%D/f"}, size_refused(2146, 2145), 7, UNCHANGED},
        {"largest xrservice between two blobs",
         blobs{blob(DC, text("keep")), blob(EYETRACKING, text("keep too"))}, 0xFF,
         {{"f", pattern(3065, 9)}}, {"set", "xrservice", "%D/f"}, F, 0,
         blobs{blob(DC, text("keep")), blob(XRSERVICE, pattern(3065, 9)),
               blob(EYETRACKING, text("keep too"))}},
        {"xrservice one byte too large", blobs{}, 0xFF, {{"f", pattern(3066)}},
         {"set", "xrservice", "%D/f"}, size_refused(3066, 3065), 7, UNCHANGED},
        {"largest eyetracking", blobs{}, 0xFF, {{"f", pattern(1426, 3)}},
         {"set", "eyetracking", "%D/f"}, F, 0, blobs{blob(EYETRACKING, pattern(1426, 3))}},
        {"eyetracking one byte too large", blobs{}, 0xFF, {{"f", pattern(1427)}},
         {"set", "eyetracking", "%D/f"}, size_refused(1427, 1426), 7, UNCHANGED},

        // Empty blobs are set items of data length 0.
        {"empty file", old, 0xFF, {{"f", bytes{}}}, {"set", "device_config", "%D/f"}, F, 0,
         blobs{blob(DC, {})}},
        {"empty blob saved as an empty file", blobs{blob(DC, {})}, 0xFF, {},
         {"get", "device_config", "%D/out"}, F + stored_to(DC, "%D/out"), 0, UNCHANGED,
         {{"out", bytes{}}}},

        // Replacing: no stale bytes in the field or in the file.
        {"smaller blob over a larger one", blobs{blob(DC, pattern(2145))}, 0xFF,
         {{"f", text("xyz")}}, {"set", "device_config", "%D/f"}, F, 0,
         blobs{blob(DC, text("xyz"))}},
        {"get replaces an existing file", blobs{blob(DC, text("abc"))}, 0xFF,
         {{"out", text("0123456789")}}, {"get", "device_config", "%D/out"},
         F + stored_to(DC, "%D/out"), 0, UNCHANGED, {{"out", text("abc")}}},
        {"surplus words after the file name", old, 0xFF, {{"f", text("new")}},
         {"set", "device_config", "%D/f", "%D/g", "more"}, F, 0, blobs{blob(DC, text("new"))}},
        {"the full field length word is accepted", blobs{raw_field(DC, 2145, pattern(2145))},
         0xFF, {}, {"get", "device_config", "%D/out"}, F + stored_to(DC, "%D/out"), 0, UNCHANGED,
         {{"out", pattern(2145)}}},

        // Getting without a file name only says whether the item is set.
        {"set item, no file name", old, 0xFF, {}, {"get", "device_config"}, F + set_line(DC), 7,
         UNCHANGED},
        {"unset item, no file name", blobs{}, 0xFF, {}, {"get", "device_config"}, F + not_set(DC),
         5, UNCHANGED},
        {"unset item creates no file", blobs{}, 0xFF, {}, {"get", "device_config", "%D/out"},
         F + not_set(DC), 5, UNCHANGED, {{"out", std::nullopt}}},
        {"unset item leaves an existing file alone", blobs{}, 0xFF, {{"out", text("keep")}},
         {"get", "device_config", "%D/out"}, F + not_set(DC), 5, UNCHANGED,
         {{"out", text("keep")}}},
        {"uninitialised region on get", BLANK, 0xFF, {}, {"get", "xrservice", "%D/out"},
         F + uninit("vrcal"), 6, UNCHANGED, {{"out", std::nullopt}}},
        {"stored length one above the limit", blobs{raw_field(DC, 2146, pattern(2145))}, 0xFF, {},
         {"get", "device_config", "%D/out"},
         F + "device_config appear valid, but has illegal length: 2146!\n", 5, UNCHANGED,
         {{"out", std::nullopt}}},
        {"stored length 0xFFFF", blobs{raw_field(EYETRACKING, 0xFFFF)}, 0xFF, {},
         {"get", "eyetracking", "%D/out"},
         F + "eyetracking appear valid, but has illegal length: 65535!\n", 5, UNCHANGED,
         {{"out", std::nullopt}}},
        {"a file name longer than a message line", old, 0xFF, {},
         {"sh", "mkdir -p %D/" + LONG_DIRS + " && %V get device_config %D/" + LONG_NAME},
         F + stored_to(DC, "%D/" + LONG_NAME), 0, UNCHANGED, {{LONG_NAME, text("old calibration")}}},
        {"get into a directory", old, 0xFF, {}, {"get", "device_config", "%D"},
         F + "\nFailed to create file %D for writing on error: 21\n", 7, UNCHANGED},
        {"get into a missing directory", old, 0xFF, {}, {"get", "device_config", "%D/no/out"},
         F + "\nFailed to create file %D/no/out for writing on error: 2\n", 7, UNCHANGED},
        {"get into a full device", old, 0xFF, {}, {"get", "device_config", "/dev/full"},
         F + "device_config: Write Failed!\n", 3, UNCHANGED},
        {"get with two words after the item", old, 0xFF, {}, {"get", "device_config", "a", "b"},
         "\nget command requires an item!\n" + hint("get"), 7, UNCHANGED},
        {"a locked region can be read", old, 0x00, {}, {"get", "device_config", "%D/out"},
         F + stored_to(DC, "%D/out"), 0, UNCHANGED, {{"out", text("old calibration")}}},

        // Set failures leave the device as it was.
        {"set without a file name", old, 0xFF, {}, {"set", "device_config"},
         "\nMust specify a file to load data from\n", 7, UNCHANGED},
        {"set from a missing file", old, 0xFF, {}, {"set", "device_config", "%D/missing"},
         "\nFailed to open file %D/missing for reading on error: 2\n", 7, UNCHANGED},
        {"set from a directory", old, 0xFF, {}, {"set", "device_config", "%D"},
         "\nRead Failed, errno: 21\n", 2, UNCHANGED},
        {"set into a locked region", old, 0x00, {{"f", text("new")}},
         {"set", "device_config", "%D/f"}, F + "cannot write device_config, eeprom locked!\n", 5,
         UNCHANGED},
        {"locked region, missing file: the file is read first", old, 0x00, {},
         {"set", "device_config", "%D/missing"},
         "\nFailed to open file %D/missing for reading on error: 2\n", 7, UNCHANGED},
        {"set into an uninitialised region", BLANK, 0xFF, {{"f", text("new")}},
         {"set", "eyetracking", "%D/f"}, F + uninit("vrcal"), 6, UNCHANGED},

        // Sources without a size: read to their end, refused past the limit.
        {"/dev/null stores an empty blob", old, 0xFF, {}, {"set", "device_config", "/dev/null"},
         F, 0, blobs{blob(DC, {})}},
        {"/dev/zero never ends", old, 0xFF, {}, {"set", "device_config", "/dev/zero"},
         size_refused(2146, 2145), 7, UNCHANGED},
        {"a pipe stores what flows through it", old, 0xFF, {},
         {"sh", "printf 'a\\000\\377b' | %V set device_config /dev/stdin"}, F, 0,
         blobs{blob(DC, bytes{'a', 0x00, 0xFF, 'b'})}},
        {"a pipe written in two bursts", old, 0xFF, {},
         {"sh", "{ printf abc; sleep 0.2; printf def; } | %V set device_config /dev/stdin"}, F, 0,
         blobs{blob(DC, text("abcdef"))}},
        {"a pipe carrying exactly the limit", old, 0xFF, {},
         {"sh", "yes abcdefgh | head -c 2145 | %V set device_config /dev/stdin"}, F, 0,
         blobs{blob(DC, yes_bytes(2145))}},
        {"a pipe one byte over the limit", old, 0xFF, {},
         {"sh", "yes abcdefgh | head -c 2146 | %V set device_config /dev/stdin"},
         size_refused(2146, 2145), 7, UNCHANGED},
        {"a pipe far over the limit", old, 0xFF, {},
         {"sh", "yes abcdefgh | head -c 5000 | %V set eyetracking /dev/stdin"},
         size_refused(1427, 1426), 7, UNCHANGED},
        {"standard input on a regular file", old, 0xFF, {}, {"set", "device_config", "/dev/stdin"},
         F, 0, blobs{blob(DC, text("hello"))}, {}, "hello"},
    };
    for (const blob_row &row : rows) {
        SCOPED_TRACE(row.what);
        empty_dir();
        emu_headset hs = headset();
        if (row.stored) seed(hs, VRCAL, *row.stored, 0, row.lock);
        for (const scratch_file &f : row.files) write_file(dir_ + "/" + f.name, *f.data);

        std::vector<std::string> args;
        for (const std::string &a : row.args) args.push_back(expand(a));
        const run_result r = args[0] == "sh"
                                 ? run_program("/bin/sh", {"-c", args[1]}, {}, row.input)
                                 : run_vellum(args, {}, row.input);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, expand(row.err));

        const std::optional<blobs> &after = row.after ? row.after : row.stored;
        EXPECT_EQ(difference(read_chip(hs.chips[0]), core_chip(after, row.lock)), "");
        EXPECT_EQ(difference(read_chip(hs.chips[1]), bytes(4096, 0xFF)), "");
        for (const scratch_file &f : row.files_after) {
            SCOPED_TRACE(f.name);
            EXPECT_EQ(read_file(dir_ + "/" + f.name), f.data);
        }
    }
}

// What is loaded comes back out byte for byte, and the field holds exactly
// it: length word, data, zeros.
TEST_F(BlobRoundTrip, SavedFileEqualsLoadedFile) {
    struct row {
        const blob_item *item;
        bytes data;
    };
    const row rows[] = {
        {&DEVICE_CONFIG, {0x00}},
        {&DEVICE_CONFIG, pattern(2145, 1)},
        {&XRSERVICE, text("\n")},
        {&XRSERVICE, pattern(3065, 2)},
        {&EYETRACKING, {0xFF, 0xFF}},
        {&EYETRACKING, pattern(1426, 4)},
    };
    for (const row &c : rows) {
        SCOPED_TRACE(std::string(c.item->name) + " of " + std::to_string(c.data.size()));
        empty_dir();
        emu_headset hs = headset();
        seed(hs, VRCAL);
        const std::string in = dir_ + "/in.bin", out = dir_ + "/out.bin";
        write_file(in, c.data);
        expect_run({{"set", c.item->name, in}, 0, "", found("vrcal")});
        EXPECT_EQ(difference(region_bytes(hs, VRCAL),
                             region_image(VRCAL.size, VRCAL.magic, 1, 0xFF,
                                          {blob(*c.item, c.data)})),
                  "");
        expect_run({{"get", c.item->name, out}, 0, "", found("vrcal") + stored_to(*c.item, out)});
        EXPECT_EQ(read_file(out), c.data);
    }
}

// The listing goes on past every failing item: blank bootloader and core
// report once per item, set blobs only say so, the missing strap stops its
// own table once.
TEST(BlobPrintAll, ListsSetAndUnsetBlobsWithoutStopping) {
    emu_headset hs = headset(2, 0);
    seed(hs, VRCAL, {blob(DEVICE_CONFIG, text("cfg")), blob(EYETRACKING, {})});
    std::string err = found("bootloader");
    for (int i = 0; i < 3; i++) err += uninit("bootloader");
    err += found("core");
    for (int i = 0; i < 17; i++) err += uninit("core");
    err += found("vrcal") + set_line(DEVICE_CONFIG) + not_set(XRSERVICE) + set_line(EYETRACKING);
    err += "Failed to find strap_eeprom in sysfs - check dts files\n";
    const bytes before = read_chip(hs.chips[0]);
    const run_result r =
        expect_run({{"print_all"}, 0, "Core EEPROM Data:\n\nStrap EEPROM Data:\n", err});
    EXPECT_EQ(count_calls(r, "pwrite"), 0u);
    EXPECT_EQ(difference(read_chip(hs.chips[0]), before), "");
}

}  // namespace
