// Device lookup: finds the I2C device whose directory carries a child named
// after a device-tree label, among the devices at 0x50 and 0x51 that the
// kernel lists under /sys/bus/i2c/devices.
//
// A command asks more than once: the generation probe of the core board and
// of the strap, then the lookup of every region it uses. The device
// directories do not change under a command, so each listing is remembered
// and a later question that an earlier listing already answers is answered
// from it: a run lists each directory once, not once per question.
// Only a device that was found is taken from memory; a label that was not
// there is looked for again, in the directories themselves, every time.
#include "eeprom_lookup.h"
#include "catalogue.h"
#include "eeprom_internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace {

// The headset has two EEPROMs and a board a handful of devices at these
// addresses; a device directory has about a dozen entries. Whatever does
// not fit is simply not remembered and is listed again when asked about.
constexpr size_t MEMO_DEVICES = 8;
constexpr size_t MEMO_CHILDREN = 32;
// Labels are compared as a prefix of the child's name, so the first
// characters of each name are all a label (of at most 15) needs.
constexpr size_t MEMO_LABEL = sizeof(eeprom_t::sysfs_name);

struct listed_device {
    char name[32];  // the entry in the base directory, "1-0050"
    char children[MEMO_CHILDREN][MEMO_LABEL];
    size_t child_count;
    bool complete;  // every child was read and fitted
};

// The accepted devices of the latest successful listing, in listing order.
// A device is there only if every accepted device listed before it is there
// too, listed in full: the first match in memory is the first on the bus.
struct listing_memo {
    listed_device devices[MEMO_DEVICES];
    size_t count;
    bool full;  // a device did not fit: record no further ones
};

listing_memo memo;

// A directory read straight from the kernel into a static buffer. opendir
// would allocate its buffer, starting the allocator (a random seed, the heap)
// for the lookup alone, and examine the directory first: together a tenth
// of the time of a `get`. Entries come in the same order readdir gives them.
struct listing {
    int fd;
    ssize_t filled;  // bytes the last getdents64 delivered
    ssize_t at;      // the next entry's place in the buffer
    alignas(dirent64) char buffer[4096];
};

// The bus directory and one device directory are open at a time.
listing base_listing;
listing device_listing;

bool open_listing(listing *l, const char *path) {
    l->fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    l->filled = 0;
    l->at = 0;
    return l->fd >= 0;
}

// The next entry, or null at the end (or when the kernel fails to list more,
// as readdir ends there too).
const dirent64 *next_entry(listing *l) {
    if (l->at >= l->filled) {
        l->filled = getdents64(l->fd, l->buffer, sizeof l->buffer);
        l->at = 0;
        if (l->filled <= 0) return nullptr;
    }
    const dirent64 *entry = reinterpret_cast<const dirent64 *>(l->buffer + l->at);
    l->at += entry->d_reclen;
    return entry;
}

void close_listing(listing *l) { close(l->fd); }

void forget_listing() {
    memo.count = 0;
    memo.full = false;
}

void record_path(eeprom_t *eeprom, const char *device) {
    if (eeprom) eeprom_join(eeprom->path, sizeof eeprom->path, {EEPROM_SYSFS_BASE "/", device, "/eeprom"});
}

// The device that an earlier listing found carrying the label, or null when
// memory cannot tell.
const listed_device *remembered(const char *label) {
    if (strlen(label) >= MEMO_LABEL) return nullptr;
    for (size_t d = 0; d < memo.count; ++d) {
        const listed_device &device = memo.devices[d];
        for (size_t c = 0; c < device.child_count; ++c)
            if (eeprom_name_matches(device.children[c], label, false)) return &device;
        if (!device.complete) return nullptr;
    }
    return nullptr;
}

listed_device *start_device(const char *name) {
    if (memo.full || memo.count == MEMO_DEVICES || strlen(name) >= sizeof memo.devices[0].name) {
        memo.full = true;
        return nullptr;
    }
    listed_device *device = &memo.devices[memo.count++];
    eeprom_join(device->name, sizeof device->name, {name});
    device->child_count = 0;
    device->complete = false;
    return device;
}

// Remembers a child's name, or marks the device as not fully known.
bool record_child(listed_device *device, const char *child) {
    if (!device || device->child_count == MEMO_CHILDREN) return false;
    char *slot = device->children[device->child_count++];
    strncpy(slot, child, MEMO_LABEL - 1);
    slot[MEMO_LABEL - 1] = '\0';
    return true;
}

// A listing that failed is not remembered at all.
int report_opendir_failure(const char *dir, int err) {
    fprintf(stderr, "opendir(%s) ret: %d\n", dir, err);
    forget_listing();
    return -err;
}

}  // namespace

int eeprom_find(const char *sysfs_name, eeprom_t *eeprom) {
    EEPROM_ASSERT(sysfs_name);
    EEPROM_ASSERT(sysfs_name[0]);

    if (const listed_device *device = remembered(sysfs_name)) {
        record_path(eeprom, device->name);
        return 1;
    }

    listing *base = &base_listing;
    if (!open_listing(base, EEPROM_SYSFS_BASE))
        return report_opendir_failure(EEPROM_SYSFS_BASE, errno);
    forget_listing();

    bool found = false;
    const dirent64 *entry;
    while (!found && (entry = next_entry(base)) != nullptr) {
        // Devices are links named <bus>-<4-hex-digit address>; the headset's
        // EEPROMs answer at 0x50 and 0x51 only.
        const size_t len = strlen(entry->d_name);
        if (entry->d_type != DT_LNK || len < 4) continue;
        const char *address = entry->d_name + len - 4;
        if (strcmp(address, "0050") != 0 && strcmp(address, "0051") != 0) continue;

        char device_dir[288];
        eeprom_join(device_dir, sizeof device_dir, {EEPROM_SYSFS_BASE "/", entry->d_name});
        listing *device = &device_listing;
        if (!open_listing(device, device_dir)) {
            const int err = errno;
            close_listing(base);
            return report_opendir_failure(device_dir, err);
        }
        listed_device *listed = start_device(entry->d_name);
        bool fitted = listed != nullptr;
        // The driver names a child after the device-tree label, with a
        // number appended that follows probe order: match the label as a
        // prefix.
        const dirent64 *child;
        while ((child = next_entry(device)) != nullptr) {
            fitted = record_child(listed, child->d_name) && fitted;
            if (!eeprom_name_matches(child->d_name, sysfs_name, false)) continue;
            found = true;
            record_path(eeprom, entry->d_name);
            break;
        }
        if (listed) listed->complete = !found && fitted;
        close_listing(device);
    }
    close_listing(base);
    return found ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Generation selection

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

// ---------------------------------------------------------------------------
// Names

bool eeprom_name_matches(const char *name, const char *text, bool exact) {
    return exact ? strcmp(name, text) == 0 : strncmp(name, text, strlen(text)) == 0;
}

namespace {

const eeprom_value_t *first_value(const eeprom_value_t *values, const char *text, bool exact) {
    for (; values->name[0] != '\0'; ++values)
        if (eeprom_name_matches(values->name, text, exact)) return values;
    return nullptr;
}

eeprom_t *first_region(eeprom_t *const *regions, const char *text) {
    for (; *regions; ++regions)
        if (eeprom_name_matches((*regions)->name, text, false)) return *regions;
    return nullptr;
}

}  // namespace

const eeprom_value_t *eeprom_find_item(const char *text, bool exact) {
    const eeprom_value_t *value = first_value(core_values(), text, exact);
    return value ? value : first_value(strap_values(), text, exact);
}

eeprom_t *eeprom_find_region(const char *text, const eeprom_value_t **family) {
    eeprom_t *region = first_region(core_eeproms(), text);
    *family = core_values();
    eeprom_t *const *straps = strap_eeproms();
    if (!region) {
        region = first_region(straps, text);
        *family = strap_values();
    }
    return region;
}
