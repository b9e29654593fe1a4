// The library's side of a session: the store's session, and the snapshot
// the caller may take of every region. Shared by the units of the C
// interface (vellum_*.cpp); nothing else sees it.
#pragma once

#include "eeprom_common.h"
#include "vellum.h"

// Room for one image of every region of the largest fitted hardware.
constexpr size_t VELLUM_SNAPSHOT_BYTES = 256 + 277 + 6656 + 327;

struct vellum_shot {
    const eeprom_t *region;
    eeprom_status_t status;  // of its load
    int32_t size;
    uint8_t *image;
};

struct vellum_session {
    eeprom_session store;
    bool snapshot_taken;
    vellum_shot shots[EEPROM_MAX_REGIONS];
    int shot_count;
    uint8_t images[VELLUM_SNAPSHOT_BYTES];
};

// The item or region a full name means, or nullptr after the diagnostic
// "\n%s was not found!\n".
const eeprom_value_t *vellum_find_item(vellum_session *s, const char *name);
eeprom_t *vellum_find_region(vellum_session *s, const char *name, const eeprom_value_t **family);

// The end of every call: the session's locks released. Returns `status`.
int vellum_done(vellum_session *s, int status);
