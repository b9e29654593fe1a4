// Regions and items of the core board and the head strap, per hardware
// generation. Item positions never depend on the stored layout version: a
// newer layout keeps every older item in place and appends its new items
// where the older layout kept its checksum.
#include "catalogue.h"

#include <cstddef>

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

// The template of a region: what every session's copy starts from. Only a
// session's copies get buffers, and only they are ever opened.
#define REGION(var, name, label, latest, layouts, offset, magic)                            \
    const eeprom_t var = {name, label, "", -1, latest, layouts, 0, offset, nullptr, magic, \
                          nullptr, 0, false, nullptr, 0}

REGION(core_gen1_bootloader, "bootloader", "core_eeprom", 3, bootloader_layouts, 0, CORE_MAGIC);
REGION(core_gen1_core, "core", "core_eeprom", 5, core_layouts, 256, CORE_MAGIC);
REGION(core_gen2_bootloader, "bootloader", "core_v2_eeprom", 3, bootloader_layouts, 0, CORE_MAGIC);
REGION(core_gen2_core, "core", "core_v2_eeprom", 5, core_layouts, 256, CORE_MAGIC);
REGION(core_gen2_vrcal, "vrcal", "core_v2_eeprom", 1, vrcal_layouts, 1536, VRCAL_MAGIC);
REGION(strap_gen1, "strap", "strap_eeprom", 3, strap_gen1_layouts, 0, STRAP_GEN1_MAGIC);
REGION(strap_gen2, "strap", "strap_v2_eeprom", 1, strap_gen2_layouts, 0, STRAP_GEN2_MAGIC);

// Tables point at the templates through the records' plain references; no
// code writes through them (eeprom_open refuses a template).
constexpr eeprom_t *templ(const eeprom_t &region) { return const_cast<eeprom_t *>(&region); }

}  // namespace

#define STRING EEPROM_KIND_STRING
#define CHAR EEPROM_KIND_CHAR
#define MAC EEPROM_KIND_MAC_ADDRESS
#define UINT16 EEPROM_KIND_UINT16
#define UINT32 EEPROM_KIND_UINT32
#define IPD EEPROM_KIND_IPD_XYZ
#define BINARY EEPROM_KIND_BINARY
#define END_OF_TABLE {"", nullptr, 0, 0, 0, 0, nullptr, nullptr, nullptr}

// Both core generations share these rows, each pointing at its own regions.
#define CORE_ITEMS(bl, core)                                               \
    EEPROM_ITEM("board_revision", templ(bl), 9, 32, 1, STRING),            \
    EEPROM_ITEM("board_minor", templ(bl), 42, 32, 1, STRING),              \
    EEPROM_ITEM("imu_rev", templ(bl), 75, 1, 1, CHAR),                     \
    EEPROM_ITEM("mpcba_sn", templ(core), 9, 14, 1, STRING),                \
    EEPROM_ITEM("unit_sn", templ(core), 24, 14, 1, STRING),                \
    EEPROM_ITEM("unit_config", templ(core), 39, 32, 1, STRING),            \
    EEPROM_ITEM("mac_addr_wifi", templ(core), 72, 6, 1, MAC),              \
    EEPROM_ITEM("mac_addr_ble", templ(core), 79, 6, 1, MAC),               \
    EEPROM_ITEM("prox_near", templ(core), 86, 2, 1, UINT16),               \
    EEPROM_ITEM("prox_mid", templ(core), 89, 2, 1, UINT16),                \
    EEPROM_ITEM("prox_far", templ(core), 92, 2, 1, UINT16),                \
    EEPROM_ITEM("ipd_min", templ(core), 95, 6, 1, IPD),                    \
    EEPROM_ITEM("ipd_max", templ(core), 102, 6, 1, IPD),                   \
    EEPROM_ITEM("core_cm_sn", templ(core), 109, 31, 3, STRING),            \
    EEPROM_ITEM("core_assembly_cm_sn", templ(core), 141, 31, 3, STRING),   \
    EEPROM_ITEM("heat_pipe_sn", templ(core), 173, 31, 3, STRING),          \
    EEPROM_ITEM("fan_sn", templ(core), 205, 31, 3, STRING),                \
    EEPROM_ITEM("diplexer", templ(core), 237, 2, 3, UINT16),               \
    EEPROM_ITEM("midwall_heat_pipe_sn", templ(core), 240, 31, 4, STRING),  \
    EEPROM_ITEM("prox_noise", templ(core), 272, 2, 5, UINT16)

const eeprom_value_t core_gen1_values[] = {
    CORE_ITEMS(core_gen1_bootloader, core_gen1_core),
    END_OF_TABLE,
};
eeprom_t *const core_gen1_eeproms[] = {templ(core_gen1_bootloader), templ(core_gen1_core),
                                       nullptr};

const eeprom_value_t core_gen2_values[] = {
    CORE_ITEMS(core_gen2_bootloader, core_gen2_core),
    EEPROM_ITEM("device_config", templ(core_gen2_vrcal), 9, 2147, 1, BINARY),
    EEPROM_ITEM("xrservice", templ(core_gen2_vrcal), 2157, 3067, 1, BINARY),
    EEPROM_ITEM("eyetracking", templ(core_gen2_vrcal), 5225, 1428, 1, BINARY),
    END_OF_TABLE,
};
eeprom_t *const core_gen2_eeproms[] = {templ(core_gen2_bootloader), templ(core_gen2_core),
                                       templ(core_gen2_vrcal), nullptr};

// Byte 189 of the first-generation strap belongs to no item.
const eeprom_value_t strap_gen1_values[] = {
    EEPROM_ITEM("strap_sn", templ(strap_gen1), 9, 14, 2, STRING),
    EEPROM_ITEM("strap_revision", templ(strap_gen1), 24, 32, 2, STRING),
    EEPROM_ITEM("strap_minor", templ(strap_gen1), 57, 32, 2, STRING),
    EEPROM_ITEM("strap_config", templ(strap_gen1), 90, 32, 2, STRING),
    EEPROM_ITEM("audio_module_vendor", templ(strap_gen1), 123, 32, 2, STRING),
    EEPROM_ITEM("left_audio_sn", templ(strap_gen1), 156, 32, 2, STRING),
    EEPROM_ITEM("left_audio_temp", templ(strap_gen1), 190, 2, 2, UINT16),
    EEPROM_ITEM("left_audio_resistance", templ(strap_gen1), 193, 2, 2, UINT16),
    EEPROM_ITEM("left_audio_admittance", templ(strap_gen1), 196, 4, 2, UINT32),
    EEPROM_ITEM("left_audio_temp_protect", templ(strap_gen1), 201, 2, 2, UINT16),
    EEPROM_ITEM("left_audio_temp_coeff", templ(strap_gen1), 204, 4, 2, UINT32),
    EEPROM_ITEM("right_audio_sn", templ(strap_gen1), 209, 32, 2, STRING),
    EEPROM_ITEM("right_audio_temp", templ(strap_gen1), 242, 2, 2, UINT16),
    EEPROM_ITEM("right_audio_resistance", templ(strap_gen1), 245, 2, 2, UINT16),
    EEPROM_ITEM("right_audio_admittance", templ(strap_gen1), 248, 4, 2, UINT32),
    EEPROM_ITEM("right_audio_temp_protect", templ(strap_gen1), 253, 2, 2, UINT16),
    EEPROM_ITEM("right_audio_temp_coeff", templ(strap_gen1), 256, 4, 2, UINT32),
    EEPROM_ITEM("strap_cm_sn", templ(strap_gen1), 261, 31, 3, STRING),
    EEPROM_ITEM("strap_assembly_cm_sn", templ(strap_gen1), 293, 31, 3, STRING),
    END_OF_TABLE,
};
eeprom_t *const strap_gen1_eeproms[] = {templ(strap_gen1), nullptr};

const eeprom_value_t strap_gen2_values[] = {
    EEPROM_ITEM("strap_sn", templ(strap_gen2), 9, 14, 1, STRING),
    EEPROM_ITEM("strap_revision", templ(strap_gen2), 24, 8, 1, STRING),
    EEPROM_ITEM("strap_minor", templ(strap_gen2), 33, 8, 1, STRING),
    EEPROM_ITEM("strap_config", templ(strap_gen2), 42, 8, 1, STRING),
    EEPROM_ITEM("audio_module_vendor", templ(strap_gen2), 51, 32, 1, STRING),
    EEPROM_ITEM("left_audio_sn", templ(strap_gen2), 84, 32, 1, STRING),
    EEPROM_ITEM("left_audio_temp", templ(strap_gen2), 117, 2, 1, UINT16),
    EEPROM_ITEM("left_audio_resistance", templ(strap_gen2), 120, 2, 1, UINT16),
    EEPROM_ITEM("right_audio_sn", templ(strap_gen2), 123, 32, 1, STRING),
    EEPROM_ITEM("right_audio_temp", templ(strap_gen2), 156, 2, 1, UINT16),
    EEPROM_ITEM("right_audio_resistance", templ(strap_gen2), 159, 2, 1, UINT16),
    END_OF_TABLE,
};
eeprom_t *const strap_gen2_eeproms[] = {templ(strap_gen2), nullptr};
