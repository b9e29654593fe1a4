// Shared pieces of the end-to-end tests: headsets of the fitted generations,
// region images built from the facts (headset_facts.h) and seeded onto the
// chips, files in a scratch directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "harness.h"
#include "headset_facts.h"

using bytes = std::vector<uint8_t>;
using region_spec = region_fact;  // its name in earlier tests

inline bytes text(std::string_view s) { return bytes(s.begin(), s.end()); }
// Every byte value turns up, zeros and 0xFF included.
bytes pattern(size_t n, uint8_t seed = 11);
bytes ipd(int16_t x, int16_t y, int16_t z);
// A blob item's field of `length` bytes: the data length (LE16), the data,
// zeros to the end.
bytes blob_field(const bytes &data, size_t length);

// An item as a set leaves it: its value, padded with zeros to the item's
// length, and the valid marker behind it.
image_item field(std::string_view item_name, bytes value, int strap_generation = 2);
inline image_item field(std::string_view item_name, const char *value, int strap_generation = 2) {
    return field(item_name, text(value), strap_generation);
}
inline image_item field(std::string_view item_name, const std::string &value, int strap_generation = 2) {
    return field(item_name, text(value), strap_generation);
}
// A blob item holding `data`.
image_item blob(std::string_view item_name, const bytes &data);

// An image of the region (newest layout unless given) holding the items, as
// a reset followed by sets would leave it.
bytes image_for(const region_fact &r, const std::vector<image_item> &items = {}, uint32_t version = 0,
                uint8_t lock = 0xFF, uint8_t fill = 0xFF);

// A headset of the given generations (0: chip absent), chips blank.
emu_headset gens(int core_generation = 2, int strap_generation = 2);
// No /sys/bus/i2c/devices at all.
emu_headset no_bus();
// Mounts gens(...); failures are reported to gtest.
emu_headset headset(int core_generation = 2, int strap_generation = 2);

// The chip of the headset that carries a region (core 0, strap 1): the
// first whose label is of that board, else the one at that index.
const emu_device &chip_of(const emu_headset &hs, size_t chip);
void seed(const emu_headset &hs, const region_fact &r, const std::vector<image_item> &items = {},
          uint32_t version = 0, uint8_t lock = 0xFF);
// The bytes of a region as they are on the chip now.
bytes region_bytes(const emu_headset &hs, const region_fact &r, uint32_t size = 0);

// The device entries in the order the bus directory lists them.
std::vector<std::string> listed_devices();

// Listings of the I2C devices a command makes, as expected in a table, where
// LISTINGS_FOR_BOTH stands for a command that finds the second-generation
// labels of both boards on the standard headset (core chip at 1-0050, strap
// chip at 1-0051). That takes one listing when the kernel lists the strap's
// chip first: the core's probe reads its directory on the way, and the
// strap's probe is answered from that. Otherwise the strap's probe lists the
// devices again. Which comes first depends on the kernel's name hash.
inline constexpr int LISTINGS_FOR_BOTH = -2;
size_t expected_listings(int listings);

// "" when equal, else where the first difference lies (dumping 8 KiB helps
// nobody).
std::string difference(const bytes &got, const bytes &want);
// Every `token` in `s` replaced by `with`.
std::string replaced(std::string s, const std::string &token, const std::string &with);
// `pattern` with "%d" standing for a number the test cannot predict (an errno).
bool like(const std::string &pattern, const std::string &actual);

// A file's bytes, or nothing when it cannot be opened.
std::optional<bytes> read_file(const std::string &path);
void write_file(const std::string &path, const bytes &data);

// A scratch directory per test for the files the commands read and write.
class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void empty_dir();
    // "%D" stands for the scratch directory, "%V" for the command that runs vellum.
    std::string expand(const std::string &s) const;
    std::string dir_;
};
