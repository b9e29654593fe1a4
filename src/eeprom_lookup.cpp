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
#include "eeprom_chips.h"
#include "eeprom_internal.h"
#include "eeprom_session.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace {

// A directory read straight from the kernel into a buffer of our own. opendir
// would allocate its buffer, starting the allocator (a random seed, the heap)
// for the lookup alone, and examine the directory first: together a tenth
// of the time of a `get`. Entries come in the same order readdir gives them.
struct listing {
    int fd;
    ssize_t filled;  // bytes the last getdents64 delivered
    ssize_t at;      // the next entry's place in the buffer
    alignas(dirent64) char buffer[4096];
};

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

void forget_listing(eeprom_lookup_memo *memo) {
    if (!memo) return;
    memo->count = 0;
    memo->full = false;
}

void record_path(eeprom_t *eeprom, const char *device) {
    if (eeprom) eeprom_join(eeprom->path, sizeof eeprom->path, {EEPROM_SYSFS_BASE "/", device, "/eeprom"});
}

// The device that an earlier listing found carrying the label, or null when
// memory cannot tell.
const eeprom_listed_device *remembered(const eeprom_lookup_memo *memo, const char *label) {
    if (!memo || strlen(label) >= EEPROM_MEMO_LABEL) return nullptr;
    for (size_t d = 0; d < memo->count; ++d) {
        const eeprom_listed_device &device = memo->devices[d];
        for (size_t c = 0; c < device.child_count; ++c)
            if (eeprom_name_matches(device.children[c], label, false)) return &device;
        if (!device.complete) return nullptr;
    }
    return nullptr;
}

eeprom_listed_device *start_device(eeprom_lookup_memo *memo, const char *name) {
    if (!memo) return nullptr;
    if (memo->full || memo->count == EEPROM_MEMO_DEVICES ||
        strlen(name) >= sizeof memo->devices[0].name) {
        memo->full = true;
        return nullptr;
    }
    eeprom_listed_device *device = &memo->devices[memo->count++];
    eeprom_join(device->name, sizeof device->name, {name});
    device->child_count = 0;
    device->complete = false;
    return device;
}

// Remembers a child's name, or marks the device as not fully known.
bool record_child(eeprom_listed_device *device, const char *child) {
    if (!device || device->child_count == EEPROM_MEMO_CHILDREN) return false;
    char *slot = device->children[device->child_count++];
    strncpy(slot, child, EEPROM_MEMO_LABEL - 1);
    slot[EEPROM_MEMO_LABEL - 1] = '\0';
    return true;
}

// A listing that failed is not remembered at all.
int report_opendir_failure(eeprom_session *session, eeprom_lookup_memo *memo, const char *dir,
                           int err) {
    if (session) eeprom_diag(session, "opendir(%s) ret: %d\n", dir, err);
    forget_listing(memo);
    return -err;
}

}  // namespace

int eeprom_find(const char *sysfs_name, eeprom_t *eeprom, eeprom_session *session) {
    EEPROM_ASSERT(sysfs_name);
    EEPROM_ASSERT(sysfs_name[0]);
    if (!session && eeprom) session = eeprom->session;
    eeprom_lookup_memo *memo = session ? &session->memo : nullptr;

    // Chip files stand for every chip there is.
    if (session && session->chip_files_given) {
        const char *file = eeprom_chip_file_for(session, sysfs_name);
        if (file && eeprom) eeprom_join(eeprom->path, sizeof eeprom->path, {file});
        return file ? 1 : 0;
    }

    if (const eeprom_listed_device *device = remembered(memo, sysfs_name)) {
        record_path(eeprom, device->name);
        return 1;
    }

    // The bus directory and one device directory are open at a time.
    listing base_listing, device_listing;
    listing *base = &base_listing;
    if (!open_listing(base, EEPROM_SYSFS_BASE))
        return report_opendir_failure(session, memo, EEPROM_SYSFS_BASE, errno);
    forget_listing(memo);

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
            return report_opendir_failure(session, memo, device_dir, err);
        }
        eeprom_listed_device *listed = start_device(memo, entry->d_name);
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
// Names

bool eeprom_name_matches(const char *name, const char *text, bool exact) {
    return exact ? strcmp(name, text) == 0 : strncmp(name, text, strlen(text)) == 0;
}
