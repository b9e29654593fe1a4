// The product's tables are data that the format depends on byte for byte.
// The records a session builds from them must be the hardware as
// headset_facts.h states it, and must keep the format's rules: a mistyped
// label, offset, length, layout size or kind fails here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "catalogue.h"
#include "eeprom_common.h"
#include "headset_facts.h"

namespace {

// A session of the given generations (nothing is looked up: they are fixed).
eeprom_session *fitted(int core, int strap) {
    static eeprom_session sessions[3][3];
    static bool made[3][3];
    eeprom_session *s = &sessions[core][strap];
    if (!made[core][strap]) {
        eeprom_session_init(s);
        eeprom_session_fix(s, core, strap);
        made[core][strap] = true;
    }
    return s;
}

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

// Each table set of the product as a session of those generations has it.
struct product_set {
    const table_set_fact *facts;
    const eeprom_value_t *values;
    eeprom_t *const *regions;
};
std::vector<product_set> product_sets() {
    return {{&CORE_GEN1, core_values(fitted(1, 1)), core_eeproms(fitted(1, 1))},
            {&CORE_GEN2, core_values(fitted(2, 2)), core_eeproms(fitted(2, 2))},
            {&STRAP_GEN1_SET, strap_values(fitted(1, 1)), strap_eeproms(fitted(1, 1))},
            {&STRAP_GEN2_SET, strap_values(fitted(2, 2)), strap_eeproms(fitted(2, 2))}};
}

TEST(HardwareTables, SessionRecordsAreTheHardwareAsStated) {
    for (const product_set &set : product_sets()) {
        SCOPED_TRACE(set.facts->name);
        const std::vector<eeprom_t *> regions = regions_of(set.regions);
        ASSERT_EQ(regions.size(), set.facts->regions.size());
        for (size_t i = 0; i < regions.size(); ++i) {
            const eeprom_t *r = regions[i];
            const region_fact &f = *set.facts->regions[i];
            SCOPED_TRACE(f.name);
            EXPECT_STREQ(r->name, f.name);
            EXPECT_STREQ(r->sysfs_name, set.facts->label);
            EXPECT_EQ(r->latest_version, f.latest());
            EXPECT_EQ(r->offset, static_cast<int32_t>(f.offset));
            EXPECT_EQ(r->magic, f.magic);
            std::vector<std::pair<int32_t, int32_t>> layouts, want;
            const eeprom_layout_t *l = r->layouts;
            for (; l->version >= 0; ++l) layouts.emplace_back(l->version, l->size);
            for (const layout_fact &lf : f.layouts)
                want.emplace_back(static_cast<int32_t>(lf.version), static_cast<int32_t>(lf.size));
            EXPECT_EQ(layouts, want);
            EXPECT_EQ(l->version, -1);
            EXPECT_EQ(l->size, -1);
            // Nothing resolved yet; buffers of its own.
            EXPECT_STREQ(r->path, "");
            EXPECT_EQ(r->fd, -1);
            EXPECT_EQ(r->size, 0);
            EXPECT_NE(r->data, nullptr);
            EXPECT_NE(r->chip, nullptr);
        }
        const std::vector<const eeprom_value_t *> items = items_of(set.values);
        ASSERT_EQ(items.size(), set.facts->items.size());
        for (size_t i = 0; i < items.size(); ++i) {
            const eeprom_value_t *v = items[i];
            const item_fact &f = set.facts->items[i];
            SCOPED_TRACE(f.name);
            EXPECT_STREQ(v->name, f.name);
            EXPECT_STREQ(v->eeprom->name, f.region->name);
            EXPECT_EQ(v->offset, f.offset);
            EXPECT_EQ(v->length, f.length);
            EXPECT_EQ(v->valid_offset, f.offset + f.length);
            EXPECT_EQ(v->min_version, f.min_version);
            ASSERT_NE(v->kind, nullptr);
            EXPECT_STREQ(v->kind->name, f.kind);
            EXPECT_EQ(v->get, v->kind->get);
            EXPECT_EQ(v->set, v->kind->set);
            const auto own = std::find(regions.begin(), regions.end(), v->eeprom);
            EXPECT_NE(own, regions.end()) << "an item of another set's region";
        }
    }
}

// The value size each fixed-width codec asserts.
int kind_length(const eeprom_kind_t *kind) {
    if (kind == &EEPROM_KIND_CHAR) return 1;
    if (kind == &EEPROM_KIND_MAC_ADDRESS || kind == &EEPROM_KIND_IPD_XYZ) return 6;
    if (kind == &EEPROM_KIND_UINT16) return 2;
    if (kind == &EEPROM_KIND_UINT32) return 4;
    return -1;
}

TEST(HardwareTables, KeepTheFormatsRules) {
    for (const product_set &set : product_sets()) {
        SCOPED_TRACE(set.facts->name);
        const std::vector<eeprom_t *> regions = regions_of(set.regions);
        for (const eeprom_t *r : regions) {
            SCOPED_TRACE(r->name);
            EXPECT_NE(r->magic, 0u);
            EXPECT_NE(r->magic, 0xFFFFFFFFu);
            // Ascending versions, the newest last; every size holds header
            // and checksum.
            int32_t previous = 0;
            for (const eeprom_layout_t *l = r->layouts; l->version >= 0; ++l) {
                EXPECT_GT(l->version, previous);
                EXPECT_GE(l->size, 11);
                previous = l->version;
            }
            EXPECT_EQ(static_cast<uint32_t>(previous), r->latest_version);
        }
        // Regions of one chip do not overlap, at any of their sizes.
        for (size_t i = 0; i < regions.size(); ++i)
            for (size_t j = i + 1; j < regions.size(); ++j)
                EXPECT_LE(regions[i]->offset + largest_layout(regions[i]), regions[j]->offset)
                    << regions[i]->name << " runs into " << regions[j]->name;

        size_t region_index = 0;
        const eeprom_value_t *previous = nullptr;
        for (const eeprom_value_t *item : items_of(set.values)) {
            SCOPED_TRACE(item->name);
            EXPECT_LT(strlen(item->name), sizeof item->name);
            if (kind_length(item->kind) > 0) {
                EXPECT_EQ(item->length, kind_length(item->kind));
            }
            // Grouped by region in list order, ascending and disjoint within
            // the region, marker included.
            const size_t index = static_cast<size_t>(std::find(regions.begin(), regions.end(), item->eeprom) -
                                                     regions.begin());
            EXPECT_GE(index, region_index);
            if (index != region_index) previous = nullptr;
            region_index = index;
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
        // Upgrading relies on this: the first item new in a layout starts
        // where the layout before it kept its checksum.
        for (const eeprom_t *r : regions)
            for (const eeprom_layout_t *l = r->layouts; l->version >= 0 && l[1].version >= 0; ++l)
                for (const eeprom_value_t *item : items_of(set.values))
                    if (item->eeprom == r && item->min_version == static_cast<uint32_t>(l[1].version)) {
                        EXPECT_EQ(item->offset, l->size - 2) << item->name;
                        break;
                    }
    }
}

TEST(HardwareTables, EverySessionCopyOwnsBuffersAsLargeAsItsLargestLayout) {
    // Image and chip buffers may not overlap even when each is taken to be as
    // large as the region's largest layout, and every item of a session
    // points at that session's copy of its region.
    for (const auto &[core, strap] : {std::pair{1, 1}, {2, 2}, {2, 1}, {1, 2}}) {
        SCOPED_TRACE("core " + std::to_string(core) + ", strap " + std::to_string(strap));
        eeprom_session *s = fitted(core, strap);
        std::vector<std::pair<const uint8_t *, const uint8_t *>> spans;
        std::set<const eeprom_t *> mine;
        for (eeprom_t *const *list : {core_eeproms(s), strap_eeproms(s)})
            for (eeprom_t *region : regions_of(list)) {
                EXPECT_EQ(region->session, s);
                mine.insert(region);
                spans.emplace_back(region->data, region->data + largest_layout(region));
                spans.emplace_back(region->chip, region->chip + largest_layout(region));
            }
        for (size_t i = 0; i < spans.size(); ++i)
            for (size_t j = i + 1; j < spans.size(); ++j)
                EXPECT_TRUE(spans[i].second <= spans[j].first || spans[j].second <= spans[i].first)
                    << "buffers " << i << " and " << j << " overlap";
        for (const eeprom_value_t *table : {core_values(s), strap_values(s)})
            for (; table->name[0] != '\0'; ++table) EXPECT_TRUE(mine.count(table->eeprom)) << table->name;
    }
}

}  // namespace
