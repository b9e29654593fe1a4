// Calibration blobs end to end: files moved into and out of the vrcal region
// of the second-generation core. A blob field is a 16-bit little-endian data
// length, the data and zeros to the end of the field; both chips are checked
// after every run, because a codec that pads, truncates or leaves stale data
// behind corrupts calibration silently.
#include "end_to_end.h"

namespace {

using blobs = std::vector<image_item>;

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
image_item raw_blob(const char *name, uint16_t stored, const bytes &data = {}) {
    bytes value = le16(stored);
    value.insert(value.end(), data.begin(), data.end());
    return field(name, value);
}

std::vector<placed> vrcal(const blobs &items, uint8_t lock = 0xFF) {
    return {{&VRCAL, image_for(VRCAL, items, 0, lock)}};
}

// A path of 650 characters below the scratch directory.
const std::string LONG_DIRS = std::string(200, 'd') + "/" + std::string(200, 'e');
const std::string LONG_NAME = LONG_DIRS + "/" + std::string(248, 'f');

TEST(CalibrationBlobs, MoveFilesInAndOutOfTheField) {
    const std::string F = found("vrcal");
    const auto run = [](const char *what, std::vector<std::string> args, int status, const std::string &err) {
        return e2e_row{what, std::move(args), status, "", err};
    };
    const auto set = [&](const char *what, const char *item, const bytes &data, std::vector<placed> seeds) {
        return run(what, {"set", item, "%D/f"}, 0, F).holding(std::move(seeds)).with_files({{"f", data}});
    };
    const auto too_large = [&](const char *what, const char *item, size_t size, std::vector<placed> seeds) {
        return run(what, {"set", item, "%D/f"}, 7,
                   size_refused(static_cast<long>(size), static_cast<long>(size - 1)))
            .holding(std::move(seeds))
            .with_files({{"f", pattern(size, 0)}});
    };
    const auto saved = [&](const char *what, const bytes &data, std::vector<placed> seeds) {
        return run(what, {"get", "device_config", "%D/out"}, 0, F + written("device_config", "%D/out"))
            .holding(std::move(seeds))
            .leaving({{"out", data}});
    };
    const blobs keep = {blob("device_config", text("keep")), blob("eyetracking", text("keep too"))};
    const std::vector<placed> old = vrcal({blob("device_config", text("old calibration"))});
    const std::vector<placed> old_locked = vrcal({blob("device_config", text("old calibration"))}, 0x00);
    const auto stored = [](const bytes &data) { return vrcal({blob("device_config", data)}); };
    play({
        // Limits: length - 2 data bytes fit, one more is refused untouched.
        set("largest device_config", "device_config", pattern(2145, 0), vrcal({}))
            .writing(stored(pattern(2145, 0))),
        too_large("device_config one byte too large", "device_config", 2146, old),
        set("largest xrservice between two blobs", "xrservice", pattern(3065, 9), vrcal(keep))
            .writing(vrcal({keep[0], blob("xrservice", pattern(3065, 9)), keep[1]})),
        too_large("xrservice one byte too large", "xrservice", 3066, vrcal({})),
        set("largest eyetracking", "eyetracking", pattern(1426, 3), vrcal({}))
            .writing(vrcal({blob("eyetracking", pattern(1426, 3))})),
        too_large("eyetracking one byte too large", "eyetracking", 1427, vrcal({})),

        // Empty blobs are set items of data length 0.
        set("empty file", "device_config", {}, old).writing(stored({})),
        saved("empty blob saved as an empty file", {}, stored({})),

        // Replacing: no stale bytes in the field or in the file.
        set("smaller blob over a larger one", "device_config", text("xyz"), stored(pattern(2145, 0)))
            .writing(stored(text("xyz"))),
        saved("get replaces an existing file", text("abc"), stored(text("abc")))
            .with_files({{"out", text("0123456789")}}),
        run("surplus words after the file name", {"set", "device_config", "%D/f", "%D/g", "more"}, 0, F)
            .holding(old)
            .with_files({{"f", text("new")}})
            .writing(stored(text("new"))),
        saved("the full field length word is accepted", pattern(2145, 0),
              vrcal({raw_blob("device_config", 2145, pattern(2145, 0))})),

        // Getting without a file name only says whether the item is set.
        run("set item, no file name", {"get", "device_config"}, 7, F + blob_is_set("device_config"))
            .holding(old),
        run("unset item, no file name", {"get", "device_config"}, 5, F + not_set("device_config"))
            .holding(vrcal({})),
        run("unset item creates no file", {"get", "device_config", "%D/out"}, 5, F + not_set("device_config"))
            .holding(vrcal({}))
            .leaving({{"out", std::nullopt}}),
        run("unset item leaves an existing file alone", {"get", "device_config", "%D/out"}, 5,
            F + not_set("device_config"))
            .holding(vrcal({}))
            .with_files({{"out", text("keep")}})
            .leaving({{"out", text("keep")}}),
        run("uninitialised region on get", {"get", "xrservice", "%D/out"}, 6, F + uninit("vrcal"))
            .leaving({{"out", std::nullopt}}),
        run("stored length one above the limit", {"get", "device_config", "%D/out"}, 5,
            F + "device_config appear valid, but has illegal length: 2146!\n")
            .holding(vrcal({raw_blob("device_config", 2146, pattern(2145, 0))}))
            .leaving({{"out", std::nullopt}}),
        run("stored length 0xFFFF", {"get", "eyetracking", "%D/out"}, 5,
            F + "eyetracking appear valid, but has illegal length: 65535!\n")
            .holding(vrcal({raw_blob("eyetracking", 0xFFFF)}))
            .leaving({{"out", std::nullopt}}),
        run("a file name longer than a message line",
            {"sh", "mkdir -p %D/" + LONG_DIRS + " && %V get device_config %D/" + LONG_NAME}, 0,
            F + written("device_config", "%D/" + LONG_NAME))
            .holding(old)
            .leaving({{LONG_NAME, text("old calibration")}}),
        run("get into a directory", {"get", "device_config", "%D"}, 7, F + cannot_create("%D", 21))
            .holding(old),
        run("get into a missing directory", {"get", "device_config", "%D/no/out"}, 7,
            F + cannot_create("%D/no/out", 2))
            .holding(old),
        run("get into a full device", {"get", "device_config", "/dev/full"}, 3,
            F + "device_config: " + WRITE_FAILED)
            .holding(old),
        run("get with two words after the item", {"get", "device_config", "a", "b"}, 7, needs_item("get"))
            .holding(old),
        saved("a locked region can be read", text("old calibration"), old_locked),

        // Set failures leave the device as it was.
        run("set without a file name", {"set", "device_config"}, 7,
            "\nMust specify a file to load data from\n")
            .holding(old),
        run("set from a missing file", {"set", "device_config", "%D/missing"}, 7,
            cannot_open("%D/missing", 2))
            .holding(old),
        run("set from a directory", {"set", "device_config", "%D"}, 2, "\nRead Failed, errno: 21\n")
            .holding(old),
        run("set into a locked region", {"set", "device_config", "%D/f"}, 5, F + locked("device_config"))
            .holding(old_locked)
            .with_files({{"f", text("new")}}),
        run("locked region, missing file: the file is read first", {"set", "device_config", "%D/missing"}, 7,
            cannot_open("%D/missing", 2))
            .holding(old_locked),
        run("set into an uninitialised region", {"set", "eyetracking", "%D/f"}, 6, F + uninit("vrcal"))
            .with_files({{"f", text("new")}}),

        // Sources without a size: read to their end, refused past the limit.
        run("/dev/null stores an empty blob", {"set", "device_config", "/dev/null"}, 0, F)
            .holding(old)
            .writing(stored({})),
        run("/dev/zero never ends", {"set", "device_config", "/dev/zero"}, 7, size_refused(2146, 2145))
            .holding(old),
        run("a pipe stores what flows through it",
            {"sh", "printf 'a\\000\\377b' | %V set device_config /dev/stdin"}, 0, F)
            .holding(old)
            .writing(stored({'a', 0x00, 0xFF, 'b'})),
        run("a pipe written in two bursts",
            {"sh", "{ printf abc; sleep 0.2; printf def; } | %V set device_config /dev/stdin"}, 0, F)
            .holding(old)
            .writing(stored(text("abcdef"))),
        run("a pipe carrying exactly the limit",
            {"sh", "yes abcdefgh | head -c 2145 | %V set device_config /dev/stdin"}, 0, F)
            .holding(old)
            .writing(stored(yes_bytes(2145))),
        run("a pipe one byte over the limit",
            {"sh", "yes abcdefgh | head -c 2146 | %V set device_config /dev/stdin"}, 7,
            size_refused(2146, 2145))
            .holding(old),
        run("a pipe far over the limit",
            {"sh", "yes abcdefgh | head -c 5000 | %V set eyetracking /dev/stdin"}, 7,
            size_refused(1427, 1426))
            .holding(old),
        run("standard input on a regular file", {"set", "device_config", "/dev/stdin"}, 0, F)
            .holding(old)
            .reading("hello")
            .writing(stored(text("hello"))),
    });
}

// What is loaded comes back out byte for byte, and the field holds exactly
// it: length word, data, zeros.
TEST(CalibrationBlobs, SavedFileEqualsLoadedFile) {
    const std::pair<const char *, bytes> rows[] = {
        {"device_config", {0x00}},     {"device_config", pattern(2145, 1)},
        {"xrservice", text("\n")},     {"xrservice", pattern(3065, 2)},
        {"eyetracking", {0xFF, 0xFF}}, {"eyetracking", pattern(1426, 4)},
    };
    std::vector<e2e_row> runs;
    for (const auto &[name, data] : rows) {
        const std::string what = std::string(name) + " of " + std::to_string(data.size());
        runs.push_back(e2e_row{what, {"set", name, "%D/in.bin"}, 0, "", found("vrcal")}
                           .holding(vrcal({}))
                           .with_files({{"in.bin", data}})
                           .writing(vrcal({blob(name, data)})));
        runs.push_back(e2e_row{
            what + ", saved", {"get", name, "%D/out.bin"}, 0, "", found("vrcal") + written(name, "%D/out.bin")}
                           .then()
                           .leaving({{"out.bin", data}}));
    }
    play(runs);
}

}  // namespace
