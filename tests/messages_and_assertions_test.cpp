// How the store builds its texts and stops on programming errors: paths and
// messages joined as snprintf would join them, and assertions that stay
// active in every build type, naming the source, the function and the
// condition.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "eeprom_common.h"
#include "eeprom_internal.h"

namespace {

TEST(Messages, JoinCutsAndTerminatesAsSnprintfWould) {
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

TEST(AssertionsDeathTest, StayActiveAndNameTheCondition) {
    char word[] = "1";
    char *words[] = {word, nullptr};
    eeprom_t region = {};
    eeprom_value_t odd = {
        "odd", &region, 9, 3, 12, 1, eeprom_get_uint16, eeprom_set_uint16, &EEPROM_KIND_UINT16};
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
