// The catalogue tables are data that the format depends on byte for byte.
// These tests derive the format's rules from the tables themselves, so that
// a mistyped offset, length, marker or layout size fails here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "catalogue.h"
#include "eeprom_common.h"

namespace {

struct table_set {
    const char *name;
    const eeprom_value_t *values;
    eeprom_t *const *regions;
    size_t item_count;
    std::vector<std::string> region_names;
};

// The records a session builds from the tables, for each generation of both
// boards (nothing is looked up: the generations are fixed).
eeprom_session *fitted(int generation) {
    static eeprom_session sessions[2];
    eeprom_session *s = &sessions[generation - 1];
    if (!s->core_regions[0]) {
        eeprom_session_init(s);
        eeprom_session_fix(s, generation, generation);
    }
    return s;
}
const eeprom_value_t *core_gen1_values = core_values(fitted(1));
eeprom_t *const *core_gen1_eeproms = core_eeproms(fitted(1));
const eeprom_value_t *core_gen2_values = core_values(fitted(2));
eeprom_t *const *core_gen2_eeproms = core_eeproms(fitted(2));
const eeprom_value_t *strap_gen1_values = strap_values(fitted(1));
eeprom_t *const *strap_gen1_eeproms = strap_eeproms(fitted(1));
const eeprom_value_t *strap_gen2_values = strap_values(fitted(2));
eeprom_t *const *strap_gen2_eeproms = strap_eeproms(fitted(2));

const table_set all_sets[] = {
    {"core gen1", core_gen1_values, core_gen1_eeproms, 20, {"bootloader", "core"}},
    {"core gen2", core_gen2_values, core_gen2_eeproms, 23, {"bootloader", "core", "vrcal"}},
    {"strap gen1", strap_gen1_values, strap_gen1_eeproms, 19, {"strap"}},
    {"strap gen2", strap_gen2_values, strap_gen2_eeproms, 11, {"strap"}},
};

std::vector<const eeprom_value_t *> items_of(const eeprom_value_t *values) {
    std::vector<const eeprom_value_t *> items;
    for (; values->name[0] != '\0'; ++values) items.push_back(values);
    return items;
}

std::vector<eeprom_t *> regions_of(eeprom_t *const *regions) {
    std::vector<eeprom_t *> list;
    for (; *regions; ++regions) list.push_back(*regions);
    return list;
}

int32_t largest_layout(const eeprom_t *region) {
    int32_t largest = 0;
    for (const eeprom_layout_t *l = region->layouts; l->version >= 0; ++l)
        largest = std::max(largest, l->size);
    return largest;
}

// The value size each fixed-width codec asserts.
int expected_length(const eeprom_value_t *item) {
    if (item->kind == &EEPROM_KIND_CHAR) return 1;
    if (item->kind == &EEPROM_KIND_MAC_ADDRESS) return 6;
    if (item->kind == &EEPROM_KIND_UINT16) return 2;
    if (item->kind == &EEPROM_KIND_UINT32) return 4;
    if (item->kind == &EEPROM_KIND_IPD_XYZ) return 6;
    return -1;
}

bool matching_pair(const eeprom_value_t *item) {
    return item->kind && item->get == item->kind->get && item->set == item->kind->set;
}

TEST(Catalogue, RegionsStartUnresolvedWithSaneLayoutTables) {
    for (const table_set &set : all_sets) {
        SCOPED_TRACE(set.name);
        std::vector<std::string> names;
        for (eeprom_t *region : regions_of(set.regions)) {
            SCOPED_TRACE(region->name);
            names.push_back(region->name);
            EXPECT_STREQ(region->path, "");
            EXPECT_EQ(region->fd, -1);
            EXPECT_EQ(region->size, 0);
            EXPECT_NE(region->magic, 0u);
            EXPECT_NE(region->magic, 0xFFFFFFFFu);
            EXPECT_NE(region->data, nullptr);
            EXPECT_NE(region->chip, nullptr);

            // Ascending versions, every size holds header and checksum, and
            // the newest version this program writes is in the table.
            int32_t previous = 0;
            bool has_latest = false;
            const eeprom_layout_t *l = region->layouts;
            for (; l->version >= 0; ++l) {
                EXPECT_GT(l->version, previous);
                EXPECT_GE(l->size, 11);
                previous = l->version;
                has_latest |= static_cast<uint32_t>(l->version) == region->latest_version;
            }
            EXPECT_EQ(l->version, -1);
            EXPECT_EQ(l->size, -1);
            EXPECT_TRUE(has_latest);
            EXPECT_EQ(static_cast<uint32_t>(previous), region->latest_version);
        }
        EXPECT_EQ(names, set.region_names);
    }
}

TEST(Catalogue, ItemsLieInsideEveryLayoutThatContainsThemWithoutOverlap) {
    for (const table_set &set : all_sets) {
        SCOPED_TRACE(set.name);
        const std::vector<eeprom_t *> regions = regions_of(set.regions);
        const std::vector<const eeprom_value_t *> items = items_of(set.values);
        EXPECT_EQ(items.size(), set.item_count);

        size_t region_index = 0;
        const eeprom_value_t *previous = nullptr;
        for (const eeprom_value_t *item : items) {
            SCOPED_TRACE(item->name);
            EXPECT_LT(strlen(item->name), sizeof item->name);
            EXPECT_TRUE(matching_pair(item));
            if (expected_length(item) > 0) {
                EXPECT_EQ(item->length, expected_length(item));
            }
            EXPECT_EQ(item->valid_offset, item->offset + item->length);

            // Items point at a region of their own set, grouped in list order.
            auto it = std::find(regions.begin(), regions.end(), item->eeprom);
            ASSERT_NE(it, regions.end());
            const size_t index = static_cast<size_t>(it - regions.begin());
            EXPECT_GE(index, region_index);
            if (index != region_index) previous = nullptr;
            region_index = index;

            // Ascending and disjoint within the region, marker included.
            if (previous) {
                EXPECT_GT(item->offset, previous->valid_offset);
            }
            previous = item;

            bool in_some_layout = false;
            for (const eeprom_layout_t *l = item->eeprom->layouts; l->version >= 0; ++l) {
                if (static_cast<uint32_t>(l->version) < item->min_version) continue;
                in_some_layout = true;
                EXPECT_GE(item->offset, 9) << "version " << l->version;
                EXPECT_LT(item->valid_offset, l->size - 2) << "version " << l->version;
            }
            EXPECT_TRUE(in_some_layout);
        }
    }
}

TEST(Catalogue, EverySessionCopyOwnsBuffersAsLargeAsItsLargestLayout) {
    // Image and chip buffers may not overlap even when each is taken to be as
    // large as the region's largest layout, and every item of a session
    // points at that session's copy of its region.
    for (const auto &[core, strap] : {std::pair{1, 1}, {2, 2}, {2, 1}, {1, 2}}) {
        SCOPED_TRACE("core " + std::to_string(core) + ", strap " + std::to_string(strap));
        static eeprom_session s;
        eeprom_session_init(&s);
        eeprom_session_fix(&s, core, strap);
        std::vector<std::pair<const uint8_t *, const uint8_t *>> spans;
        std::set<const eeprom_t *> mine;
        for (eeprom_t *const *list : {core_eeproms(&s), strap_eeproms(&s)})
            for (eeprom_t *region : regions_of(list)) {
                EXPECT_EQ(region->session, &s);
                mine.insert(region);
                spans.emplace_back(region->data, region->data + largest_layout(region));
                spans.emplace_back(region->chip, region->chip + largest_layout(region));
            }
        for (size_t i = 0; i < spans.size(); ++i)
            for (size_t j = i + 1; j < spans.size(); ++j)
                EXPECT_TRUE(spans[i].second <= spans[j].first ||
                            spans[j].second <= spans[i].first)
                    << "buffers " << i << " and " << j << " overlap";
        for (const eeprom_value_t *table : {core_values(&s), strap_values(&s)})
            for (; table->name[0] != '\0'; ++table)
                EXPECT_TRUE(mine.count(table->eeprom)) << table->name;
    }
}

TEST(Catalogue, RegionsOfOneChipDoNotOverlap) {
    for (const table_set &set : all_sets) {
        SCOPED_TRACE(set.name);
        const std::vector<eeprom_t *> regions = regions_of(set.regions);
        for (size_t i = 0; i < regions.size(); ++i)
            for (size_t j = i + 1; j < regions.size(); ++j) {
                if (strcmp(regions[i]->sysfs_name, regions[j]->sysfs_name) != 0) continue;
                EXPECT_LE(regions[i]->offset + largest_layout(regions[i]), regions[j]->offset)
                    << regions[i]->name << " runs into " << regions[j]->name;
            }
    }
}

TEST(Catalogue, RegionDescriptorsMatchTheHardware) {
    struct expected_region {
        eeprom_t *region;
        const char *sysfs_name;
        uint32_t latest;
        int32_t offset;
        uint32_t magic;
        int32_t largest;
    };
    const expected_region expected[] = {
        {core_gen1_eeproms[0], "core_eeprom", 3, 0, 0x45F731EA, 256},
        {core_gen1_eeproms[1], "core_eeprom", 5, 256, 0x45F731EA, 277},
        {core_gen2_eeproms[0], "core_v2_eeprom", 3, 0, 0x45F731EA, 256},
        {core_gen2_eeproms[1], "core_v2_eeprom", 5, 256, 0x45F731EA, 277},
        {core_gen2_eeproms[2], "core_v2_eeprom", 1, 1536, 0x5652434C, 6656},
        {strap_gen1_eeproms[0], "strap_eeprom", 3, 0, 0x24FE4051, 327},
        {strap_gen2_eeproms[0], "strap_v2_eeprom", 1, 0, 0x4B454C50, 164},
    };
    for (const expected_region &e : expected) {
        SCOPED_TRACE(e.region->name);
        EXPECT_STREQ(e.region->sysfs_name, e.sysfs_name);
        EXPECT_EQ(e.region->latest_version, e.latest);
        EXPECT_EQ(e.region->offset, e.offset);
        EXPECT_EQ(e.region->magic, e.magic);
        EXPECT_EQ(largest_layout(e.region), e.largest);
    }
    // The core region's three layouts: each newer one ends where the items
    // it adds end.
    const eeprom_layout_t *core = core_gen2_eeproms[1]->layouts;
    EXPECT_EQ(eeprom_layout_size(core, 3), 242);
    EXPECT_EQ(eeprom_layout_size(core, 4), 274);
    EXPECT_EQ(eeprom_layout_size(core, 5), 277);
}

TEST(Catalogue, SecondGenerationCoreRepeatsTheFirstThenAddsTheBlobs) {
    const std::vector<const eeprom_value_t *> gen1 = items_of(core_gen1_values);
    const std::vector<const eeprom_value_t *> gen2 = items_of(core_gen2_values);
    ASSERT_EQ(gen2.size(), gen1.size() + 3);
    for (size_t i = 0; i < gen1.size(); ++i) {
        SCOPED_TRACE(gen1[i]->name);
        EXPECT_STREQ(gen2[i]->name, gen1[i]->name);
        EXPECT_EQ(gen2[i]->offset, gen1[i]->offset);
        EXPECT_EQ(gen2[i]->length, gen1[i]->length);
        EXPECT_EQ(gen2[i]->min_version, gen1[i]->min_version);
        EXPECT_EQ(gen2[i]->get, gen1[i]->get);
        EXPECT_STREQ(gen2[i]->eeprom->name, gen1[i]->eeprom->name);
        EXPECT_NE(gen2[i]->eeprom, gen1[i]->eeprom);
    }
    const char *blobs[] = {"device_config", "xrservice", "eyetracking"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_STREQ(gen2[gen1.size() + i]->name, blobs[i]);
        EXPECT_EQ(gen2[gen1.size() + i]->get, eeprom_get_binary);
        EXPECT_STREQ(gen2[gen1.size() + i]->eeprom->name, "vrcal");
    }
}

TEST(Catalogue, NewerCoreLayoutsAppendTheirItemsWhereTheOldChecksumWas) {
    // Upgrading relies on this: the first item new in a layout starts at the
    // older layout's checksum.
    for (const eeprom_value_t *item : items_of(core_gen1_values)) {
        if (strcmp(item->name, "midwall_heat_pipe_sn") == 0) {
            EXPECT_EQ(item->min_version, 4u);
            EXPECT_EQ(item->offset, 242 - 2);
        }
        if (strcmp(item->name, "prox_noise") == 0) {
            EXPECT_EQ(item->min_version, 5u);
            EXPECT_EQ(item->offset, 274 - 2);
        }
    }
}

TEST(Catalogue, EveryFullNameSelectsItsOwnItem) {
    // Lookup takes the first item in core-then-strap order whose name begins
    // with the typed text, so no name may begin with a later item's name.
    const std::pair<const eeprom_value_t *, const eeprom_value_t *> fittings[] = {
        {core_gen1_values, strap_gen1_values}, {core_gen1_values, strap_gen2_values},
        {core_gen2_values, strap_gen1_values}, {core_gen2_values, strap_gen2_values},
    };
    for (const auto &[core, strap] : fittings) {
        std::vector<const eeprom_value_t *> order = items_of(core);
        for (const eeprom_value_t *item : items_of(strap)) order.push_back(item);
        for (size_t i = 0; i < order.size(); ++i)
            for (size_t j = i + 1; j < order.size(); ++j)
                EXPECT_NE(strncmp(order[i]->name, order[j]->name, strlen(order[j]->name)), 0)
                    << order[j]->name << " is shadowed by " << order[i]->name;
    }
}

}  // namespace
