// The emulated headset: the part of sysfs that the kernel shows for the
// headset's I2C EEPROMs, built on a tmpfs mounted over /sys inside a private
// mount namespace. The tests and the emulated-headset tool both use it; the
// transfer rules of the `eeprom` and `nvmem` files (one page per call, cut
// at the end of the chip) come from the eeprom_xfer preload, not from here.
//
// Layout produced for an at24 chip at 0x50 on bus 1 labelled core_v2_eeprom,
// as the i.MX6 board's 32-bit kernel showed it:
//
//   /sys/bus/i2c/devices/1-0050 -> ../../../devices/platform/soc/2100000.bus/21a4000.i2c/i2c-1/1-0050
//   /sys/devices/platform/soc/2100000.bus/21a4000.i2c/i2c-1/1-0050/
//       core_v2_eeprom1/   (nvmem device: label + number in probe order)
//           nvmem          (0600, the same bytes as `eeprom`)
//           of_node ->, power/, subsystem -> bus/nvmem, type, uevent
//       driver -> ../../../../../../../bus/i2c/drivers/at24
//       eeprom             (0600, exactly the chip size)
//       modalias, name, uevent, of_node ->, subsystem ->, power/,
//       supplier:regulator:regulator.0 ->
//
// Directory listings come out in the order the kernel's sysfs gives them
// (sorted by its name hash), whatever order tmpfs itself would use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class emu_kind {
    eeprom,          // bound at24 device: label child and `eeprom` file
    no_eeprom_file,  // label child present, `eeprom` missing (open fails)
    driverless,      // device directory only: no driver, label or `eeprom`
    plain_dir,       // a real directory, not a symlink, directly in
                     // /sys/bus/i2c/devices, with label child and `eeprom`
    dangling,        // symlink in /sys/bus/i2c/devices to nothing
};

struct emu_device {
    emu_kind kind = emu_kind::eeprom;
    int bus = 1;
    int address = 0x50;
    std::string label = {};  // device-tree label, e.g. "core_v2_eeprom"
    // Number the nvmem core appends to the label; -1: the next number in
    // the headset's probe order.
    int label_number = -1;
    uint32_t size = 8192;    // 8192 = 24c64, 4096 = 24c32
    // Initial contents; padded with 0xFF (erased) up to size.
    std::vector<uint8_t> contents = {};
    // When set, this host file is bind-mounted as `eeprom`, so writes
    // outlive the namespace. Created erased if missing; must be `size` long.
    std::string backing_file = {};
};

// Which chip the kernel probes (and numbers) first. The board's device tree
// lists 0x51 before 0x50, so the strap became strap_v2_eeprom0 and the core
// core_v2_eeprom1.
enum class emu_probe_order { high_address_first, low_address_first };

struct emu_headset {
    // The EEPROMs under test.
    std::vector<emu_device> chips;
    // Whatever else sits on the buses. By default an unbound device on each
    // bus, as a real board shows.
    std::vector<emu_device> distractors = {
        {.kind = emu_kind::driverless, .bus = 0, .address = 0x0a},
        {.kind = emu_kind::driverless, .bus = 1, .address = 0x40},
    };
    bool adapters = true;  // i2c-N links for the board's buses and every bus in use
    int board_buses = 3;   // the board's controllers: i2c-0 .. i2c-2
    bool base_dir = true;  // false: no /sys/bus/i2c/devices at all
    // Directory listings follow the kernel's name hash, which a 32-bit
    // kernel computes in 32-bit arithmetic and a 64-bit one in 64-bit: the
    // orders differ (a 32-bit kernel lists 1-0050 before 1-0051, a 64-bit
    // one after). 0 means 64.
    int kernel_bits = 0;
    bool reverse_listing = false;  // list directories in reverse kernel order
    emu_probe_order probe_order = emu_probe_order::high_address_first;
};

// The chips of each hardware generation (1 or 2) at their usual places:
// core at 1-0050 (24c64), strap at 1-0051 (24c32).
emu_device emu_core_chip(int generation = 2);
emu_device emu_strap_chip(int generation = 2);
// Core and strap of the second generation, numbered in probe order, plus the
// default distractors.
emu_headset emu_standard_headset();

// Enters a private mount namespace (and a user namespace mapping the caller
// to root when not already root) with every mount private, so the tmpfs over
// /sys is seen by this process and its children only. Call once, while the
// process has a single thread.
bool emu_enter_namespace(std::string *err);

// Mounts a fresh tmpfs over /sys, detaching an earlier emulated one, and
// builds the headset's tree on it.
bool emu_mount_sys(const emu_headset &headset, std::string *err);

// "1-0050"
std::string emu_device_name(const emu_device &dev);
// The label directory's name, "core_v2_eeprom1", with the number the
// headset's probe order gives the chip when it has none of its own.
std::string emu_label_dir(const emu_headset &headset, const emu_device &dev);
// The chip's `eeprom` file as the tool finds it:
// /sys/bus/i2c/devices/1-0050/eeprom
std::string emu_chip_path(const emu_device &dev);

// Direct access to a chip's bytes, bypassing the transfer rules.
bool emu_read_chip(const emu_device &dev, std::vector<uint8_t> *out,
                   std::string *err);
bool emu_write_chip(const emu_device &dev, uint32_t offset,
                    const std::vector<uint8_t> &bytes, std::string *err);
