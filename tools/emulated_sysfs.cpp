#include "emulated_sysfs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Source name of our tmpfs, so that a rebuild detaches only our own mounts.
constexpr const char *kMountSource = "emulated_sysfs";
constexpr const char *kSys = "/sys";
constexpr const char *kBusDevices = "/sys/bus/i2c/devices";

bool fail(std::string *err, const std::string &what, int errnum) {
    if (err)
        *err = what + ": " + std::strerror(errnum);
    return false;
}

bool fail(std::string *err, const std::string &what) {
    if (err)
        *err = what;
    return false;
}

std::string format(const char *fmt, int a, int b = 0) {
    char buf[256];
    std::snprintf(buf, sizeof buf, fmt, a, b);
    return buf;
}

// Order of entries in a kernfs directory: by this hash of the name, then by
// name. Entries without a namespace tag hash with a zero salt. The kernel
// keeps the running hash in an unsigned long and folds it with hash_long(),
// so a 32-bit kernel works modulo 2^32 with the 32-bit golden ratio and a
// 64-bit kernel modulo 2^64 with the 64-bit one.
uint32_t kernfs_name_hash(const std::string &name, int kernel_bits) {
    uint64_t hash = 0;
    if (kernel_bits == 32) {
        uint32_t h = 0;
        for (char c : name) {
            uint32_t ch = static_cast<uint32_t>(static_cast<long>(c));
            h = (h + (ch << 4) + (ch >> 4)) * 11;
        }
        hash = static_cast<uint32_t>(h * 0x61C88647u);
    } else {
        for (char c : name) {
            uint64_t ch = static_cast<uint64_t>(static_cast<long>(c));
            hash = (hash + (ch << 4) + (ch >> 4)) * 11;
        }
        hash = (hash * 0x61C8864680B583EBull) >> 32;
    }
    hash &= 0x7fffffffu;
    if (hash < 2)
        hash += 2;
    if (hash >= 0x7fffffffu)
        hash = 0x7fffffffu - 1;
    return static_cast<uint32_t>(hash);
}

// i.MX-style controllers: bus N at 0x21a0000 + N * 0x4000.
int controller_address(int bus) {
    return 0x21a0000 + bus * 0x4000;
}

std::string adapter_dir(int bus) {
    return format("/sys/devices/platform/soc/2100000.bus/%x.i2c/i2c-%d",
                  controller_address(bus), bus);
}

constexpr const char *kOfBase = "/sys/firmware/devicetree/base";

std::string of_node_dir(const emu_device &dev) {
    return kOfBase + format("/soc/bus@2100000/i2c@%x/eeprom@%x", controller_address(dev.bus),
                            dev.address);
}

std::string chip_type(uint32_t size) {
    return format("24c%02d", static_cast<int>(size * 8 / 1024));
}

// Link text from directory `from` to absolute path `to`, both under /sys.
std::string relative_link(const std::string &from, const std::string &to) {
    int depth = static_cast<int>(std::count(from.begin(), from.end(), '/')) - 1;
    std::string up;
    for (int i = 0; i < depth; i++)
        up += "../";
    return up + to.substr(std::strlen(kSys) + 1);
}

struct node {
    enum { dir, file, link, hardlink } kind;
    std::string data;  // file contents, link target, or the file a hard link names
    mode_t mode;
    std::string bind;  // host file to mount over this file
};

class tree {
  public:
    void dir(const std::string &path) { add(path, {node::dir, "", 0755, ""}); }
    void file(const std::string &path, const std::string &data, mode_t mode = 0644) {
        add(path, {node::file, data, mode, ""});
    }
    void link(const std::string &path, const std::string &target) {
        add(path, {node::link, relative_link(parent_of(path), target), 0777, ""});
    }
    void bound_file(const std::string &path, const std::string &host, mode_t mode) {
        add(path, {node::file, "", mode, host});
    }
    // A second name for a file created earlier (parents come first).
    void hardlink(const std::string &path, const std::string &existing) {
        add(path, {node::hardlink, existing, 0, ""});
    }

    // Creates every entry. `creation_lists_first` says whether tmpfs lists
    // the entry created first at the top; the wanted listing order is the
    // kernel's (or its reverse), so creation follows whichever fits.
    bool create(bool creation_lists_first, bool reverse, int kernel_bits,
                std::string *err) const {
        std::vector<const std::pair<const std::string, node> *> order;
        for (const auto &entry : nodes_)
            order.push_back(&entry);
        bool ascending = creation_lists_first != reverse;
        // Parents before children; within one directory, by kernel order.
        std::sort(order.begin(), order.end(), [ascending, kernel_bits](auto *a, auto *b) {
            const std::string &pa = a->first, &pb = b->first;
            auto da = std::count(pa.begin(), pa.end(), '/');
            auto db = std::count(pb.begin(), pb.end(), '/');
            if (da != db || parent_of(pa) != parent_of(pb))
                return std::make_pair(da, parent_of(pa)) < std::make_pair(db, parent_of(pb));
            std::string na = pa.substr(pa.rfind('/') + 1), nb = pb.substr(pb.rfind('/') + 1);
            auto ka = std::make_pair(kernfs_name_hash(na, kernel_bits), na);
            auto kb = std::make_pair(kernfs_name_hash(nb, kernel_bits), nb);
            return ascending ? ka < kb : kb < ka;
        });
        for (auto *entry : order)
            if (!make(entry->first, entry->second, err))
                return false;
        return true;
    }

  private:
    static std::string parent_of(const std::string &path) {
        return path.substr(0, path.rfind('/'));
    }

    void add(const std::string &path, node n) {
        for (std::string p = parent_of(path); p.size() > std::strlen(kSys); p = parent_of(p))
            nodes_.emplace(p, node{node::dir, "", 0755, ""});
        nodes_.insert_or_assign(path, std::move(n));
    }

    static bool make(const std::string &path, const node &n, std::string *err) {
        switch (n.kind) {
        case node::dir:
            if (mkdir(path.c_str(), n.mode) != 0)
                return fail(err, "mkdir " + path, errno);
            return true;
        case node::link:
            if (symlink(n.data.c_str(), path.c_str()) != 0)
                return fail(err, "symlink " + path, errno);
            return true;
        case node::hardlink:
            if (::link(n.data.c_str(), path.c_str()) != 0)
                return fail(err, "link " + path, errno);
            return true;
        case node::file:
            break;
        }
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, n.mode);
        if (fd < 0)
            return fail(err, "create " + path, errno);
        bool ok = fchmod(fd, n.mode) == 0 &&
                  write(fd, n.data.data(), n.data.size()) == static_cast<ssize_t>(n.data.size());
        int saved = errno;
        close(fd);
        if (!ok)
            return fail(err, "write " + path, saved);
        if (!n.bind.empty() &&
            mount(n.bind.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return fail(err, "bind-mount " + n.bind + " on " + path, errno);
        return true;
    }

    std::map<std::string, node> nodes_;
};

// Makes sure the backing file exists, erased, with exactly `size` bytes.
bool prepare_backing(const emu_device &dev, std::string *err) {
    const std::string &path = dev.backing_file;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail(err, "open " + path, errno);
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    int saved = errno;
    if (ok && st.st_size == 0) {
        std::string erased(dev.size, '\xff');
        ok = pwrite(fd, erased.data(), erased.size(), 0) == static_cast<ssize_t>(erased.size());
        saved = errno;
        st.st_size = dev.size;
    }
    if (ok)
        fchmod(fd, 0600);
    close(fd);
    if (!ok)
        return fail(err, "prepare " + path, saved);
    if (st.st_size != static_cast<off_t>(dev.size))
        return fail(err, path + " holds " + std::to_string(st.st_size) + " bytes, the chip " +
                             std::to_string(dev.size));
    return true;
}

// A device's runtime power-management attributes, as the kernel shows them
// for a bound I2C device (`active`) and for an nvmem device.
void add_power(tree &t, const std::string &dir, bool active) {
    const char *const zero_files[] = {"runtime_active_kids", "runtime_active_time",
                                      "runtime_suspended_time", "runtime_usage"};
    for (const char *name : zero_files)
        t.file(dir + "/power/" + name, "0\n", 0444);
    t.file(dir + "/power/async", active ? "enabled\n" : "disabled\n");
    t.file(dir + "/power/autosuspend_delay_ms", "");
    t.file(dir + "/power/control", "auto\n");
    t.file(dir + "/power/runtime_enabled", active ? "enabled\n" : "disabled\n", 0444);
    t.file(dir + "/power/runtime_status", active ? "suspended\n" : "unsupported\n", 0444);
}

// The OF_* lines of a uevent for a device that came from a device-tree node.
std::string of_uevent(const emu_device &dev) {
    std::string type = chip_type(dev.size);
    return "OF_NAME=eeprom\nOF_FULLNAME=" + of_node_dir(dev).substr(std::strlen(kOfBase)) +
           "\nOF_COMPATIBLE_0=atmel," + type + "\nOF_COMPATIBLE_N=1\n";
}

bool add_device(tree &t, const emu_headset &headset, const emu_device &dev, std::string *err) {
    std::string name = emu_device_name(dev);
    std::string link = std::string(kBusDevices) + "/" + name;
    std::string dir = adapter_dir(dev.bus) + "/" + name;
    bool bound = dev.kind == emu_kind::eeprom || dev.kind == emu_kind::no_eeprom_file;
    bool has_eeprom = dev.kind != emu_kind::no_eeprom_file;

    if (dev.kind == emu_kind::dangling) {
        t.link(link, dir);
        return true;
    }
    if (dev.kind == emu_kind::plain_dir)
        dir = link;
    else
        t.link(link, dir);

    if (dev.kind != emu_kind::driverless) {
        if (dev.label.empty())
            return fail(err, name + ": a chip needs a label");
        if (dev.contents.size() > dev.size)
            return fail(err, name + ": contents larger than the chip");
        if (!dev.backing_file.empty() && !dev.contents.empty())
            return fail(err, name + ": give contents or a backing file, not both");
        // The nvmem device: no link back to its parent, the chip's bytes
        // once more as `nvmem`.
        std::string nvmem = dir + "/" + emu_label_dir(headset, dev);
        t.file(nvmem + "/type", "EEPROM\n", 0444);
        t.file(nvmem + "/uevent", of_uevent(dev));
        add_power(t, nvmem, false);
        t.link(nvmem + "/subsystem", "/sys/bus/nvmem");
        t.link(nvmem + "/of_node", of_node_dir(dev));
        if (bound && dev.kind != emu_kind::plain_dir)
            t.link("/sys/bus/nvmem/devices/" + emu_label_dir(headset, dev), nvmem);
        if (has_eeprom) {
            std::string eeprom = dir + "/eeprom";
            if (!dev.backing_file.empty()) {
                if (!prepare_backing(dev, err))
                    return false;
                t.bound_file(eeprom, dev.backing_file, 0600);
                t.bound_file(nvmem + "/nvmem", dev.backing_file, 0600);
            } else {
                std::string data(dev.contents.begin(), dev.contents.end());
                data.resize(dev.size, '\xff');
                t.file(eeprom, data, 0600);
                t.hardlink(nvmem + "/nvmem", eeprom);
            }
        }
    }
    if (dev.kind == emu_kind::plain_dir)
        return true;

    std::string type = bound ? chip_type(dev.size) : "dummy";
    std::string modalias = bound ? "of:NeepromT(null)Catmel," + type : "i2c:" + type;
    t.file(dir + "/name", type + "\n", 0444);
    t.file(dir + "/modalias", modalias + "\n", 0444);
    t.file(dir + "/uevent", (bound ? "DRIVER=at24\n" + of_uevent(dev) : std::string()) +
                                "MODALIAS=" + modalias + "\n");
    t.link(dir + "/subsystem", "/sys/bus/i2c");
    if (bound) {
        add_power(t, dir, true);
        t.link(dir + "/driver", "/sys/bus/i2c/drivers/at24");
        t.link(dir + "/of_node", of_node_dir(dev));
        t.link(dir + "/supplier:regulator:regulator.0",
               "/sys/devices/virtual/devlink/regulator:regulator.0--i2c:" + name);
        t.file(of_node_dir(dev) + "/name", std::string("eeprom") + '\0');
        t.dir("/sys/bus/i2c/drivers/at24");
    } else {
        t.file(dir + "/power/control", "auto\n");
        t.file(dir + "/power/runtime_status", "unsupported\n", 0444);
    }
    return true;
}

// Whether a new tmpfs directory lists the entry created first at the top.
bool creation_order_lists_first(std::string *err, bool *first) {
    std::string probe = std::string(kSys) + "/.order";
    if (mkdir(probe.c_str(), 0700) != 0 || mkdir((probe + "/a").c_str(), 0700) != 0 ||
        mkdir((probe + "/b").c_str(), 0700) != 0)
        return fail(err, "mkdir " + probe, errno);
    DIR *d = opendir(probe.c_str());
    if (!d)
        return fail(err, "opendir " + probe, errno);
    std::string seen;
    while (dirent *e = readdir(d))
        if (e->d_name[0] != '.')
            seen += e->d_name;
    closedir(d);
    rmdir((probe + "/a").c_str());
    rmdir((probe + "/b").c_str());
    rmdir(probe.c_str());
    *first = seen == "ab";
    return true;
}

// Whether the topmost mount on /sys is one of ours.
bool our_tmpfs_on_sys() {
    FILE *f = std::fopen("/proc/self/mountinfo", "re");
    if (!f)
        return false;
    bool ours = false;
    char line[1024];
    while (std::fgets(line, sizeof line, f)) {
        // id parent major:minor root mountpoint options... - fstype source ...
        char mountpoint[256], fstype[64], source[256];
        const char *sep = std::strstr(line, " - ");
        if (!sep || std::sscanf(line, "%*s %*s %*s %*s %255s", mountpoint) != 1 ||
            std::sscanf(sep, " - %63s %255s", fstype, source) != 2)
            continue;
        if (std::strcmp(mountpoint, kSys) == 0)  // later lines are mounted on top
            ours = std::strcmp(fstype, "tmpfs") == 0 && std::strcmp(source, kMountSource) == 0;
    }
    std::fclose(f);
    return ours;
}

bool write_file(const char *path, const std::string &text, std::string *err) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(err, std::string("open ") + path, errno);
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    int saved = errno;
    close(fd);
    return ok || fail(err, std::string("write ") + path, saved);
}

}  // namespace

emu_device emu_core_chip(int generation) {
    return {.bus = 1,
            .address = 0x50,
            .label = generation == 1 ? "core_eeprom" : "core_v2_eeprom",
            .size = 8192};
}

emu_device emu_strap_chip(int generation) {
    return {.bus = 1,
            .address = 0x51,
            .label = generation == 1 ? "strap_eeprom" : "strap_v2_eeprom",
            .size = 4096};
}

emu_headset emu_standard_headset() {
    emu_headset headset;
    headset.chips = {emu_core_chip(2), emu_strap_chip(2)};
    return headset;
}

bool emu_enter_namespace(std::string *err) {
    uid_t uid = geteuid();
    gid_t gid = getegid();
    bool entered = uid == 0 && unshare(CLONE_NEWNS) == 0;
    if (!entered) {
        // Not root, or root without the capability: a user namespace in
        // which we are root gives us the right to mount.
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return fail(err, "unshare(CLONE_NEWUSER|CLONE_NEWNS)", errno);
        if (!write_file("/proc/self/setgroups", "deny", err) ||
            !write_file("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n", err) ||
            !write_file("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n", err))
            return false;
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return fail(err, "make / private", errno);
    return true;
}

bool emu_mount_sys(const emu_headset &headset, std::string *err) {
    while (our_tmpfs_on_sys())
        if (umount2(kSys, MNT_DETACH) != 0)
            return fail(err, "detach the previous /sys", errno);
    if (mount(kMountSource, kSys, "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, "mode=0755") != 0)
        return fail(err, "mount tmpfs on /sys", errno);

    bool creation_lists_first = true;
    if (!creation_order_lists_first(err, &creation_lists_first))
        return false;

    const int bits = headset.kernel_bits == 32 ? 32 : 64;
    tree t;
    if (!headset.base_dir)
        return t.create(creation_lists_first, headset.reverse_listing, bits, err);
    t.dir(kBusDevices);
    std::vector<int> buses;
    for (int bus = 0; bus < headset.board_buses; bus++)
        buses.push_back(bus);
    for (const auto *list : {&headset.chips, &headset.distractors}) {
        for (const emu_device &dev : *list) {
            if (!add_device(t, headset, dev, err))
                return false;
            if (dev.kind != emu_kind::dangling && dev.kind != emu_kind::plain_dir)
                buses.push_back(dev.bus);
        }
    }
    if (headset.adapters) {
        for (int bus : buses) {
            std::string dir = adapter_dir(bus);
            t.link(std::string(kBusDevices) + format("/i2c-%d", bus), dir);
            t.file(dir + "/name", format("%x.i2c\n", controller_address(bus)), 0444);
            t.link(dir + "/subsystem", "/sys/bus/i2c");
        }
    }
    return t.create(creation_lists_first, headset.reverse_listing, bits, err);
}

std::string emu_device_name(const emu_device &dev) {
    return format("%d-%04x", dev.bus, dev.address);
}

std::string emu_label_dir(const emu_headset &headset, const emu_device &dev) {
    int number = dev.label_number;
    if (number < 0) {
        // One counter for all nvmem devices, in the order they probe.
        const bool high_first = headset.probe_order == emu_probe_order::high_address_first;
        auto key = [](const emu_device &d) { return std::make_pair(d.bus, d.address); };
        number = 0;
        for (const auto *list : {&headset.chips, &headset.distractors})
            for (const emu_device &other : *list) {
                bool numbered = other.label_number < 0 && !other.label.empty() &&
                                other.kind != emu_kind::driverless &&
                                other.kind != emu_kind::dangling;
                if (numbered && (high_first ? key(dev) < key(other) : key(other) < key(dev)))
                    number++;
            }
    }
    return dev.label + std::to_string(number);
}

std::string emu_chip_path(const emu_device &dev) {
    return std::string(kBusDevices) + "/" + emu_device_name(dev) + "/eeprom";
}

bool emu_read_chip(const emu_device &dev, std::vector<uint8_t> *out, std::string *err) {
    std::string path = emu_chip_path(dev);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(err, "open " + path, errno);
    out->assign(dev.size, 0);
    ssize_t n = pread(fd, out->data(), out->size(), 0);
    int saved = errno;
    close(fd);
    if (n != static_cast<ssize_t>(dev.size))
        return fail(err, "read " + path, n < 0 ? saved : EIO);
    return true;
}

bool emu_write_chip(const emu_device &dev, uint32_t offset, const std::vector<uint8_t> &bytes,
                    std::string *err) {
    if (offset > dev.size || bytes.size() > dev.size - offset)
        return fail(err, emu_device_name(dev) + ": write past the end of the chip");
    std::string path = emu_chip_path(dev);
    int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(err, "open " + path, errno);
    ssize_t n = pwrite(fd, bytes.data(), bytes.size(), offset);
    int saved = errno;
    close(fd);
    if (n != static_cast<ssize_t>(bytes.size()))
        return fail(err, "write " + path, n < 0 ? saved : EIO);
    return true;
}
