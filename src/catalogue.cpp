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

// Image buffers, each as large as the largest layout of its region.
uint8_t core_gen1_bootloader_data[256];
uint8_t core_gen1_core_data[277];
uint8_t core_gen2_bootloader_data[256];
uint8_t core_gen2_core_data[277];
uint8_t core_gen2_vrcal_data[6656];
uint8_t strap_gen1_data[327];
uint8_t strap_gen2_data[164];

eeprom_t core_gen1_bootloader = {"bootloader", "core_eeprom", "", -1, 3,
                                 bootloader_layouts, 0, 0,
                                 core_gen1_bootloader_data, CORE_MAGIC};
eeprom_t core_gen1_core = {"core", "core_eeprom", "", -1, 5, core_layouts, 0,
                           256, core_gen1_core_data, CORE_MAGIC};
eeprom_t core_gen2_bootloader = {"bootloader", "core_v2_eeprom", "", -1, 3,
                                 bootloader_layouts, 0, 0,
                                 core_gen2_bootloader_data, CORE_MAGIC};
eeprom_t core_gen2_core = {"core", "core_v2_eeprom", "", -1, 5, core_layouts,
                           0, 256, core_gen2_core_data, CORE_MAGIC};
eeprom_t core_gen2_vrcal = {"vrcal", "core_v2_eeprom", "", -1, 1,
                            vrcal_layouts, 0, 1536, core_gen2_vrcal_data,
                            VRCAL_MAGIC};
eeprom_t strap_gen1 = {"strap", "strap_eeprom", "", -1, 3, strap_gen1_layouts,
                       0, 0, strap_gen1_data, STRAP_GEN1_MAGIC};
eeprom_t strap_gen2 = {"strap", "strap_v2_eeprom", "", -1, 1,
                       strap_gen2_layouts, 0, 0, strap_gen2_data,
                       STRAP_GEN2_MAGIC};

}  // namespace

#define STRING eeprom_get_string, eeprom_set_string, eeprom_parse_string
#define CHAR eeprom_get_char, eeprom_set_char, eeprom_parse_char
#define MAC eeprom_get_mac_address, eeprom_set_mac_address, eeprom_parse_mac_address
#define UINT16 eeprom_get_uint16, eeprom_set_uint16, eeprom_parse_uint16
#define UINT32 eeprom_get_uint32, eeprom_set_uint32, eeprom_parse_uint32
#define IPD eeprom_get_ipd_xyz, eeprom_set_ipd_xyz, eeprom_parse_ipd_xyz
#define BINARY eeprom_get_binary, eeprom_set_binary, eeprom_parse_binary
#define END_OF_TABLE {"", nullptr, 0, 0, 0, 0, nullptr, nullptr, nullptr}

// Both core generations share these rows, each pointing at its own regions.
#define CORE_ITEMS(bl, core)                                              \
    {"board_revision", &bl, 9, 32, 41, 1, STRING},                        \
    {"board_minor", &bl, 42, 32, 74, 1, STRING},                          \
    {"imu_rev", &bl, 75, 1, 76, 1, CHAR},                                 \
    {"mpcba_sn", &core, 9, 14, 23, 1, STRING},                            \
    {"unit_sn", &core, 24, 14, 38, 1, STRING},                            \
    {"unit_config", &core, 39, 32, 71, 1, STRING},                        \
    {"mac_addr_wifi", &core, 72, 6, 78, 1, MAC},                          \
    {"mac_addr_ble", &core, 79, 6, 85, 1, MAC},                           \
    {"prox_near", &core, 86, 2, 88, 1, UINT16},                           \
    {"prox_mid", &core, 89, 2, 91, 1, UINT16},                            \
    {"prox_far", &core, 92, 2, 94, 1, UINT16},                            \
    {"ipd_min", &core, 95, 6, 101, 1, IPD},                               \
    {"ipd_max", &core, 102, 6, 108, 1, IPD},                              \
    {"core_cm_sn", &core, 109, 31, 140, 3, STRING},                       \
    {"core_assembly_cm_sn", &core, 141, 31, 172, 3, STRING},              \
    {"heat_pipe_sn", &core, 173, 31, 204, 3, STRING},                     \
    {"fan_sn", &core, 205, 31, 236, 3, STRING},                           \
    {"diplexer", &core, 237, 2, 239, 3, UINT16},                          \
    {"midwall_heat_pipe_sn", &core, 240, 31, 271, 4, STRING},             \
    {"prox_noise", &core, 272, 2, 274, 5, UINT16}

const eeprom_value_t core_gen1_values[] = {
    CORE_ITEMS(core_gen1_bootloader, core_gen1_core),
    END_OF_TABLE,
};
eeprom_t *const core_gen1_eeproms[] = {&core_gen1_bootloader, &core_gen1_core,
                                       nullptr};

const eeprom_value_t core_gen2_values[] = {
    CORE_ITEMS(core_gen2_bootloader, core_gen2_core),
    {"device_config", &core_gen2_vrcal, 9, 2147, 2156, 1, BINARY},
    {"xrservice", &core_gen2_vrcal, 2157, 3067, 5224, 1, BINARY},
    {"eyetracking", &core_gen2_vrcal, 5225, 1428, 6653, 1, BINARY},
    END_OF_TABLE,
};
eeprom_t *const core_gen2_eeproms[] = {&core_gen2_bootloader, &core_gen2_core,
                                       &core_gen2_vrcal, nullptr};

// Byte 189 of the first-generation strap belongs to no item.
const eeprom_value_t strap_gen1_values[] = {
    {"strap_sn", &strap_gen1, 9, 14, 23, 2, STRING},
    {"strap_revision", &strap_gen1, 24, 32, 56, 2, STRING},
    {"strap_minor", &strap_gen1, 57, 32, 89, 2, STRING},
    {"strap_config", &strap_gen1, 90, 32, 122, 2, STRING},
    {"audio_module_vendor", &strap_gen1, 123, 32, 155, 2, STRING},
    {"left_audio_sn", &strap_gen1, 156, 32, 188, 2, STRING},
    {"left_audio_temp", &strap_gen1, 190, 2, 192, 2, UINT16},
    {"left_audio_resistance", &strap_gen1, 193, 2, 195, 2, UINT16},
    {"left_audio_admittance", &strap_gen1, 196, 4, 200, 2, UINT32},
    {"left_audio_temp_protect", &strap_gen1, 201, 2, 203, 2, UINT16},
    {"left_audio_temp_coeff", &strap_gen1, 204, 4, 208, 2, UINT32},
    {"right_audio_sn", &strap_gen1, 209, 32, 241, 2, STRING},
    {"right_audio_temp", &strap_gen1, 242, 2, 244, 2, UINT16},
    {"right_audio_resistance", &strap_gen1, 245, 2, 247, 2, UINT16},
    {"right_audio_admittance", &strap_gen1, 248, 4, 252, 2, UINT32},
    {"right_audio_temp_protect", &strap_gen1, 253, 2, 255, 2, UINT16},
    {"right_audio_temp_coeff", &strap_gen1, 256, 4, 260, 2, UINT32},
    {"strap_cm_sn", &strap_gen1, 261, 31, 292, 3, STRING},
    {"strap_assembly_cm_sn", &strap_gen1, 293, 31, 324, 3, STRING},
    END_OF_TABLE,
};
eeprom_t *const strap_gen1_eeproms[] = {&strap_gen1, nullptr};

const eeprom_value_t strap_gen2_values[] = {
    {"strap_sn", &strap_gen2, 9, 14, 23, 1, STRING},
    {"strap_revision", &strap_gen2, 24, 8, 32, 1, STRING},
    {"strap_minor", &strap_gen2, 33, 8, 41, 1, STRING},
    {"strap_config", &strap_gen2, 42, 8, 50, 1, STRING},
    {"audio_module_vendor", &strap_gen2, 51, 32, 83, 1, STRING},
    {"left_audio_sn", &strap_gen2, 84, 32, 116, 1, STRING},
    {"left_audio_temp", &strap_gen2, 117, 2, 119, 1, UINT16},
    {"left_audio_resistance", &strap_gen2, 120, 2, 122, 1, UINT16},
    {"right_audio_sn", &strap_gen2, 123, 32, 155, 1, STRING},
    {"right_audio_temp", &strap_gen2, 156, 2, 158, 1, UINT16},
    {"right_audio_resistance", &strap_gen2, 159, 2, 161, 1, UINT16},
    END_OF_TABLE,
};
eeprom_t *const strap_gen2_eeproms[] = {&strap_gen2, nullptr};

namespace {

// 0 until decided, then 1 or 2 for the rest of the process.
int core_generation = 0;
int strap_generation = 0;

// Probes once for the label of the second generation's first region. Only an
// exact "found" selects it: an absent label and an unreadable sysfs both
// mean the first generation, whose failures surface when a region opens.
int select_generation(int *generation, eeprom_t *const *gen2_regions) {
    if (*generation == 0) {
        *generation = eeprom_find(gen2_regions[0]->sysfs_name, nullptr) == 1 ? 2 : 1;
    }
    return *generation;
}

}  // namespace

const eeprom_value_t *core_values() {
    return select_generation(&core_generation, core_gen2_eeproms) == 2
               ? core_gen2_values
               : core_gen1_values;
}

eeprom_t *const *core_eeproms() {
    return select_generation(&core_generation, core_gen2_eeproms) == 2
               ? core_gen2_eeproms
               : core_gen1_eeproms;
}

const eeprom_value_t *strap_values() {
    return select_generation(&strap_generation, strap_gen2_eeproms) == 2
               ? strap_gen2_values
               : strap_gen1_values;
}

eeprom_t *const *strap_eeproms() {
    return select_generation(&strap_generation, strap_gen2_eeproms) == 2
               ? strap_gen2_eeproms
               : strap_gen1_eeproms;
}
