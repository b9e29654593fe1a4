// Regions and items of the core board and the head strap, per hardware
// generation. Item positions never depend on the stored layout version: a
// newer layout keeps every older item in place and appends its new items
// where the older layout kept its checksum.
//
// The rows hold numbers and names only: a session builds its region and
// item records from them (eeprom_session.h), so the tables carry no
// pointers for the loader to relocate.
#include "catalogue.h"

namespace {

// Layout tables: (version, image size including header and checksum).
const eeprom_layout_t bootloader_layouts[] = {{3, 256}, {-1, -1}};
const eeprom_layout_t core_layouts[] = {{3, 242}, {4, 274}, {5, 277}, {-1, -1}};
const eeprom_layout_t vrcal_layouts[] = {{1, 6656}, {-1, -1}};
const eeprom_layout_t strap_gen1_layouts[] = {{3, 327}, {-1, -1}};
const eeprom_layout_t strap_gen2_layouts[] = {{1, 164}, {-1, -1}};

constexpr uint32_t CORE_MAGIC = 0x45F731EA;
constexpr uint32_t VRCAL_MAGIC = 0x5652434C;
constexpr uint32_t STRAP_GEN1_MAGIC = 0x24FE4051;
constexpr uint32_t STRAP_GEN2_MAGIC = 0x4B454C50;

// Region rows: name, label, latest version, layouts, offset in the chip, magic.
const eeprom_region_row core_gen1_regions[] = {
    {"bootloader", "core_eeprom", 3, bootloader_layouts, 0, CORE_MAGIC},
    {"core", "core_eeprom", 5, core_layouts, 256, CORE_MAGIC},
};
const eeprom_region_row core_gen2_regions[] = {
    {"bootloader", "core_v2_eeprom", 3, bootloader_layouts, 0, CORE_MAGIC},
    {"core", "core_v2_eeprom", 5, core_layouts, 256, CORE_MAGIC},
    {"vrcal", "core_v2_eeprom", 1, vrcal_layouts, 1536, VRCAL_MAGIC},
};
const eeprom_region_row strap_gen1_regions[] = {
    {"strap", "strap_eeprom", 3, strap_gen1_layouts, 0, STRAP_GEN1_MAGIC},
};
const eeprom_region_row strap_gen2_regions[] = {
    {"strap", "strap_v2_eeprom", 1, strap_gen2_layouts, 0, STRAP_GEN2_MAGIC},
};

// The regions of a set by their place in its list.
constexpr uint8_t BOOTLOADER = 0, CORE = 1, VRCAL = 2, STRAP = 0;
using kind = eeprom_kind_id;

// Item rows: name, region, offset, length, first layout version, kind. The
// valid marker follows each value directly.
#define CORE_ITEMS                                                         \
    {"board_revision", BOOTLOADER, 9, 32, 1, kind::string},                \
    {"board_minor", BOOTLOADER, 42, 32, 1, kind::string},                  \
    {"imu_rev", BOOTLOADER, 75, 1, 1, kind::character},                    \
    {"mpcba_sn", CORE, 9, 14, 1, kind::string},                            \
    {"unit_sn", CORE, 24, 14, 1, kind::string},                            \
    {"unit_config", CORE, 39, 32, 1, kind::string},                        \
    {"mac_addr_wifi", CORE, 72, 6, 1, kind::mac_address},                  \
    {"mac_addr_ble", CORE, 79, 6, 1, kind::mac_address},                   \
    {"prox_near", CORE, 86, 2, 1, kind::uint16},                           \
    {"prox_mid", CORE, 89, 2, 1, kind::uint16},                            \
    {"prox_far", CORE, 92, 2, 1, kind::uint16},                            \
    {"ipd_min", CORE, 95, 6, 1, kind::ipd_xyz},                            \
    {"ipd_max", CORE, 102, 6, 1, kind::ipd_xyz},                           \
    {"core_cm_sn", CORE, 109, 31, 3, kind::string},                        \
    {"core_assembly_cm_sn", CORE, 141, 31, 3, kind::string},               \
    {"heat_pipe_sn", CORE, 173, 31, 3, kind::string},                      \
    {"fan_sn", CORE, 205, 31, 3, kind::string},                            \
    {"diplexer", CORE, 237, 2, 3, kind::uint16},                           \
    {"midwall_heat_pipe_sn", CORE, 240, 31, 4, kind::string},              \
    {"prox_noise", CORE, 272, 2, 5, kind::uint16}

const eeprom_item_row core_gen1_items[] = {
    CORE_ITEMS
};
const eeprom_item_row core_gen2_items[] = {
    CORE_ITEMS,
    {"device_config", VRCAL, 9, 2147, 1, kind::binary},
    {"xrservice", VRCAL, 2157, 3067, 1, kind::binary},
    {"eyetracking", VRCAL, 5225, 1428, 1, kind::binary},
};
// Byte 189 of the first-generation strap belongs to no item.
const eeprom_item_row strap_gen1_items[] = {
    {"strap_sn", STRAP, 9, 14, 2, kind::string},
    {"strap_revision", STRAP, 24, 32, 2, kind::string},
    {"strap_minor", STRAP, 57, 32, 2, kind::string},
    {"strap_config", STRAP, 90, 32, 2, kind::string},
    {"audio_module_vendor", STRAP, 123, 32, 2, kind::string},
    {"left_audio_sn", STRAP, 156, 32, 2, kind::string},
    {"left_audio_temp", STRAP, 190, 2, 2, kind::uint16},
    {"left_audio_resistance", STRAP, 193, 2, 2, kind::uint16},
    {"left_audio_admittance", STRAP, 196, 4, 2, kind::uint32},
    {"left_audio_temp_protect", STRAP, 201, 2, 2, kind::uint16},
    {"left_audio_temp_coeff", STRAP, 204, 4, 2, kind::uint32},
    {"right_audio_sn", STRAP, 209, 32, 2, kind::string},
    {"right_audio_temp", STRAP, 242, 2, 2, kind::uint16},
    {"right_audio_resistance", STRAP, 245, 2, 2, kind::uint16},
    {"right_audio_admittance", STRAP, 248, 4, 2, kind::uint32},
    {"right_audio_temp_protect", STRAP, 253, 2, 2, kind::uint16},
    {"right_audio_temp_coeff", STRAP, 256, 4, 2, kind::uint32},
    {"strap_cm_sn", STRAP, 261, 31, 3, kind::string},
    {"strap_assembly_cm_sn", STRAP, 293, 31, 3, kind::string},
};
const eeprom_item_row strap_gen2_items[] = {
    {"strap_sn", STRAP, 9, 14, 1, kind::string},
    {"strap_revision", STRAP, 24, 8, 1, kind::string},
    {"strap_minor", STRAP, 33, 8, 1, kind::string},
    {"strap_config", STRAP, 42, 8, 1, kind::string},
    {"audio_module_vendor", STRAP, 51, 32, 1, kind::string},
    {"left_audio_sn", STRAP, 84, 32, 1, kind::string},
    {"left_audio_temp", STRAP, 117, 2, 1, kind::uint16},
    {"left_audio_resistance", STRAP, 120, 2, 1, kind::uint16},
    {"right_audio_sn", STRAP, 123, 32, 1, kind::string},
    {"right_audio_temp", STRAP, 156, 2, 1, kind::uint16},
    {"right_audio_resistance", STRAP, 159, 2, 1, kind::uint16},
};

template <typename T, size_t N>
constexpr int count(const T (&)[N]) {
    return static_cast<int>(N);
}

}  // namespace

const eeprom_table_set core_gen1 = {core_gen1_regions, count(core_gen1_regions), core_gen1_items,
                                    count(core_gen1_items)};
const eeprom_table_set core_gen2 = {core_gen2_regions, count(core_gen2_regions), core_gen2_items,
                                    count(core_gen2_items)};
const eeprom_table_set strap_gen1 = {strap_gen1_regions, count(strap_gen1_regions),
                                     strap_gen1_items, count(strap_gen1_items)};
const eeprom_table_set strap_gen2 = {strap_gen2_regions, count(strap_gen2_regions),
                                     strap_gen2_items, count(strap_gen2_items)};
