// Library-level tests of the pieces of the store that need no device.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "eeprom_common.h"
#include "eeprom_internal.h"
#include "harness.h"

#include <unistd.h>

namespace {

uint16_t checksum_of(const std::string &text) {
    return eeprom_checksum(reinterpret_cast<const uint8_t *>(text.data()),
                           static_cast<uint32_t>(text.size()));
}

TEST(Checksum, MatchesPublishedFletcher16Vectors) {
    EXPECT_EQ(checksum_of(""), 0x0000);
    EXPECT_EQ(checksum_of("abc"), 0x4C27);
    EXPECT_EQ(checksum_of("abcde"), 0xC8F0);
    EXPECT_EQ(checksum_of("abcdef"), 0x2057);
    EXPECT_EQ(checksum_of("abcdefgh"), 0x0627);
}

TEST(Checksum, SumsAreTakenModulo255) {
    // 0x00 and 0xFF are the same modulo 255, so a blank chip's bytes and a
    // zeroed chip's bytes checksum alike; any other change shows.
    uint8_t zeros[64] = {};
    uint8_t ones[64];
    memset(ones, 0xFF, sizeof ones);
    EXPECT_EQ(eeprom_checksum(zeros, sizeof zeros), eeprom_checksum(ones, sizeof ones));
    zeros[10] = 1;
    EXPECT_NE(eeprom_checksum(zeros, sizeof zeros), eeprom_checksum(ones, sizeof ones));
    // Long runs must not overflow the sums.
    static uint8_t big[6656];
    memset(big, 0xFE, sizeof big);
    const uint16_t sum = eeprom_checksum(big, sizeof big);
    EXPECT_LT(sum & 0xFF, 255);
    EXPECT_LT(sum >> 8, 255);
}

TEST(LayoutSize, FindsOnlyListedVersions) {
    const eeprom_layout_t layouts[] = {{3, 242}, {4, 274}, {5, 277}, {-1, -1}};
    EXPECT_EQ(eeprom_layout_size(layouts, 3), 242);
    EXPECT_EQ(eeprom_layout_size(layouts, 4), 274);
    EXPECT_EQ(eeprom_layout_size(layouts, 5), 277);
    for (uint32_t missing : {0u, 1u, 2u, 6u, 0xFFFFFFFFu}) EXPECT_EQ(eeprom_layout_size(layouts, missing), -1) << missing;

    const eeprom_layout_t gap[] = {{1, 100}, {3, 120}, {-1, -1}};
    EXPECT_EQ(eeprom_layout_size(gap, 2), -1);
    // The terminator never matches, even asked for its own version.
    EXPECT_EQ(eeprom_layout_size(gap, static_cast<uint32_t>(-1)), -1);
}

// Paths and messages are joined as snprintf with "%s%s..." would: cut to fit
// and always terminated, the result the length written.
TEST(Join, CutsAndTerminatesAsSnprintfWould) {
    const struct {
        size_t size;
        std::initializer_list<const char *> parts;
    } rows[] = {
        {16, {"/sys/bus", "/", "1-0050"}},
        {16, {"exactly fifteen", ""}},
        {16, {"sixteen letters!"}},
        {5, {"ab", "cd", "ef"}},
        {1, {"ab"}},
        {8, {}},
        {8, {"", "x", ""}},
    };
    for (const auto &r : rows) {
        std::string whole;
        for (const char *p : r.parts) whole += p;
        SCOPED_TRACE(whole + " in " + std::to_string(r.size));
        char expected[32];
        snprintf(expected, r.size, "%s", whole.c_str());
        char got[32];
        memset(got, 'z', sizeof got);
        EXPECT_EQ(eeprom_join(got, r.size, r.parts), strlen(expected));
        EXPECT_STREQ(got, expected);
    }
}

// Lookup with a region of the test's own, so the catalogue's process-wide
// choices stay untouched.
TEST(LookupInProcess, ProbesSilentlyAndMatchesTheWholeLabel) {
    emu_headset hs = emu_standard_headset();
    ASSERT_TRUE(mount_headset(hs));
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
    const std::string path = "/sys/bus/i2c/devices/1-0050/eeprom";

    // The label is there but the file is not: found, then the open fails.
    emu_headset hs = emu_standard_headset();
    hs.chips[0].kind = emu_kind::no_eeprom_file;
    ASSERT_TRUE(mount_headset(hs));
    testing::internal::CaptureStderr();
    EXPECT_EQ(eeprom_open(&region), EEPROM_ERROR_OPEN);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Found test EEPROM at: " + path + "\nOpen test EEPROM " + path + " Failed on: 2\n");
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

// Programming errors must stop the process in every build type, Release
// included, naming the source, the function and the condition.
TEST(AssertionsDeathTest, StayActiveAndNameTheCondition) {
    char word[] = "1";
    char *words[] = {word, nullptr};
    eeprom_t region = {};
    eeprom_value_t odd = {"odd", &region, 9, 3, 12, 1, eeprom_get_uint16, eeprom_set_uint16,
                          &EEPROM_KIND_UINT16};
    EXPECT_DEATH(eeprom_find(nullptr, nullptr), "eeprom_common.*eeprom_find.*`sysfs_name' failed");
    EXPECT_DEATH(eeprom_find("", nullptr), "eeprom_find.*`sysfs_name\\[0\\]' failed");
    EXPECT_DEATH(eeprom_get_string(nullptr, 0, nullptr), "eeprom_get_string.*`value' failed");
    EXPECT_DEATH(eeprom_set_char(&odd, 1, nullptr), "eeprom_set_char.*`argv' failed");
    EXPECT_DEATH(eeprom_set_uint16(&odd, 1, words),
                 "eeprom_set_uint16.*`value->length == sizeof\\(uint16_t\\)' failed");
    EXPECT_DEATH(eeprom_reset(nullptr), "eeprom_reset.*`eeprom' failed");
    EXPECT_DEATH(eeprom_upgrade(nullptr, nullptr), "eeprom_upgrade.*`eeprom' failed");
}

}  // namespace
