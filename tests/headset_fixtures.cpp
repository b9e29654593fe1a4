#include "headset_fixtures.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

bytes pattern(size_t n, uint8_t seed) {
    bytes out(n);
    for (size_t i = 0; i < n; i++) out[i] = static_cast<uint8_t>(i * 37 + seed);
    return out;
}

bytes ipd(int16_t x, int16_t y, int16_t z) {
    bytes out;
    for (int16_t v : {x, y, z}) {
        const bytes b = le16(static_cast<uint16_t>(v));
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

bytes blob_field(const bytes &data, size_t length) {
    bytes field = le16(static_cast<uint16_t>(data.size()));
    field.insert(field.end(), data.begin(), data.end());
    field.resize(length, 0);
    return field;
}

image_item field(std::string_view item_name, bytes value, int strap_generation) {
    const item_fact &i = item(item_name, strap_generation);
    EXPECT_LE(value.size(), i.length) << item_name;
    value.resize(i.length, 0);
    return {.offset = i.offset, .bytes = value};
}

image_item blob(std::string_view item_name, const bytes &data) {
    const item_fact &i = item(item_name);
    return {.offset = i.offset, .bytes = blob_field(data, i.length)};
}

bytes image_for(const region_fact &r, const std::vector<image_item> &items, uint32_t version, uint8_t lock,
                uint8_t fill) {
    const uint32_t v = version ? version : r.latest();
    // A version no layout has: an image of the newest layout's size.
    const uint32_t size = r.size(v) ? r.size(v) : r.size();
    return region_image(size, r.magic, v, lock, items, fill);
}

emu_headset gens(int core_generation, int strap_generation) {
    emu_headset hs = emu_standard_headset();
    hs.chips.clear();
    if (core_generation) hs.chips.push_back(emu_core_chip(core_generation));
    if (strap_generation) hs.chips.push_back(emu_strap_chip(strap_generation));
    return hs;
}

emu_headset no_bus() {
    emu_headset hs = gens(0, 0);
    hs.base_dir = false;
    return hs;
}

emu_headset headset(int core_generation, int strap_generation) {
    emu_headset hs = gens(core_generation, strap_generation);
    EXPECT_TRUE(mount_headset(hs));
    return hs;
}

const emu_device &chip_of(const emu_headset &hs, size_t chip) {
    const char *board = chip ? "strap" : "core";
    for (const emu_device &d : hs.chips)
        if (d.label.starts_with(board)) return d;
    return hs.chips.at(chip);
}

void seed(const emu_headset &hs, const region_fact &r, const std::vector<image_item> &items, uint32_t version,
          uint8_t lock) {
    write_chip(chip_of(hs, r.chip), r.offset, image_for(r, items, version, lock));
}

bytes region_bytes(const emu_headset &hs, const region_fact &r, uint32_t size) {
    const bytes chip = read_chip(chip_of(hs, r.chip));
    const uint32_t n = size ? size : r.size();
    return bytes(chip.begin() + r.offset, chip.begin() + r.offset + n);
}

std::vector<std::string> listed_devices() {
    std::vector<std::string> names;
    if (DIR *d = opendir(SYSFS.c_str())) {
        while (const dirent *e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

size_t expected_listings(int listings) {
    if (listings != LISTINGS_FOR_BOTH) return static_cast<size_t>(listings);
    for (const std::string &name : listed_devices()) {
        if (name == "1-0051") return 1;
        if (name == "1-0050") return 2;
    }
    return 2;
}

std::string difference(const bytes &got, const bytes &want) {
    if (got == want) return "";
    if (got.size() != want.size())
        return "size " + std::to_string(got.size()) + ", want " + std::to_string(want.size());
    size_t first = 0, count = 0;
    for (size_t i = 0; i < got.size(); i++)
        if (got[i] != want[i] && count++ == 0) first = i;
    char buf[96];
    std::snprintf(buf, sizeof buf, "%zu bytes differ, first at %zu: 0x%02X, want 0x%02X", count, first,
                  got[first], want[first]);
    return buf;
}

std::string replaced(std::string s, const std::string &token, const std::string &with) {
    for (size_t at = 0; (at = s.find(token, at)) != std::string::npos; at += with.size())
        s.replace(at, token.size(), with);
    return s;
}

bool like(const std::string &pattern, const std::string &actual) {
    size_t p = 0, a = 0;
    while (p < pattern.size()) {
        if (pattern.compare(p, 2, "%d") == 0) {
            const size_t start = a;
            if (a < actual.size() && actual[a] == '-') a++;
            while (a < actual.size() && isdigit(static_cast<unsigned char>(actual[a]))) a++;
            if (a == start) return false;
            p += 2;
        } else if (a < actual.size() && pattern[p] == actual[a]) {
            p++, a++;
        } else {
            return false;
        }
    }
    return a == actual.size();
}

std::optional<bytes> read_file(const std::string &path) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return std::nullopt;
    bytes out;
    for (int c; (c = std::fgetc(f)) != EOF;) out.push_back(static_cast<uint8_t>(c));
    std::fclose(f);
    return out;
}

void write_file(const std::string &path, const bytes &data) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    if (!data.empty()) {
        EXPECT_EQ(std::fwrite(data.data(), 1, data.size(), f), data.size());
    }
    EXPECT_EQ(std::fclose(f), 0);
}

void ScratchTest::SetUp() {
    char tmpl[] = "/tmp/vellum-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
}

void ScratchTest::TearDown() { std::filesystem::remove_all(dir_); }

void ScratchTest::empty_dir() {
    std::filesystem::remove_all(dir_);
    ASSERT_EQ(mkdir(dir_.c_str(), 0700), 0);
}

std::string ScratchTest::expand(const std::string &s) const {
    return replaced(replaced(s, "%D", dir_), "%V", VELLUM_COMMAND);
}
