// emulated-headset-run: runs a command (or a shell) on an emulated headset.
// The EEPROMs are files in a state folder, bind-mounted as the chips'
// `eeprom` files in a private /sys, so what vellum writes is there next time.
// Normally started through tools/emulated-headset, which builds first.

#include "emulated_sysfs.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *const kUsage =
    "usage: emulated-headset [--state DIR] [--core v1|v2|none] [--strap v1|v2|none]\n"
    "                        [--kernel-bits 32|64] [--reset-state] [COMMAND...]\n"
    "\n"
    "Runs COMMAND (default: an interactive shell) with vellum on PATH and the\n"
    "headset's EEPROMs under /sys/bus/i2c/devices. The EEPROM contents live in\n"
    "DIR (default build/emulated-headset/) and persist between runs.\n"
    "  --state DIR        folder holding the EEPROM images\n"
    "  --core GEN         core EEPROM generation at 1-0050 (default v2)\n"
    "  --strap GEN        strap EEPROM generation at 1-0051 (default v2)\n"
    "  --kernel-bits N    list sysfs directories in the order a 32- or 64-bit\n"
    "                     kernel does (default 64)\n"
    "  --reset-state      erase the images before starting\n";

constexpr const char *kImageNames[] = {"core_eeprom.bin", "core_v2_eeprom.bin",
                                       "strap_eeprom.bin", "strap_v2_eeprom.bin"};

struct options {
    std::string state = DEFAULT_STATE_DIR;
    int core = 2;  // 0: not fitted
    int strap = 2;
    int kernel_bits = 64;
    bool reset = false;
    std::vector<char *> command;
};

bool parse_generation(const char *text, int *out) {
    if (std::strcmp(text, "v1") == 0)
        *out = 1;
    else if (std::strcmp(text, "v2") == 0)
        *out = 2;
    else if (std::strcmp(text, "none") == 0)
        *out = 0;
    else
        return false;
    return true;
}

// 0 on success, otherwise the exit status for a usage error (or -1 for help).
int parse(int argc, char **argv, options *opt) {
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; i++) {
        const char *arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(arg, "--") == 0) {
            i++;
            break;
        } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            std::fputs(kUsage, stdout);
            return -1;
        } else if (std::strcmp(arg, "--reset-state") == 0) {
            opt->reset = true;
        } else if (std::strcmp(arg, "--kernel-bits") == 0 && value) {
            if (std::strcmp(value, "32") != 0 && std::strcmp(value, "64") != 0) {
                std::fprintf(stderr, "emulated-headset: --kernel-bits takes 32 or 64, not '%s'\n",
                             value);
                return 2;
            }
            opt->kernel_bits = std::atoi(value);
            i++;
        } else if (std::strcmp(arg, "--state") == 0 && value) {
            opt->state = value;
            i++;
        } else if ((std::strcmp(arg, "--core") == 0 || std::strcmp(arg, "--strap") == 0) &&
                   value) {
            int *gen = arg[2] == 'c' ? &opt->core : &opt->strap;
            if (!parse_generation(value, gen)) {
                std::fprintf(stderr, "emulated-headset: %s takes v1, v2 or none, not '%s'\n",
                             arg, value);
                return 2;
            }
            i++;
        } else {
            std::fprintf(stderr, "emulated-headset: unknown or incomplete option '%s'\n%s",
                         arg, kUsage);
            return 2;
        }
    }
    for (; i < argc; i++)
        opt->command.push_back(argv[i]);
    opt->command.push_back(nullptr);
    return 0;
}

bool make_dirs(const std::string &path) {
    for (size_t pos = 1; pos != std::string::npos;) {
        pos = path.find('/', pos + 1);
        std::string part = path.substr(0, pos);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

void prepend_env(const char *name, const std::string &value, const char *sep) {
    const char *old = std::getenv(name);
    std::string text = old && *old ? value + sep + old : value;
    setenv(name, text.c_str(), 1);
}

void append_env(const char *name, const std::string &value, const char *sep) {
    const char *old = std::getenv(name);
    std::string text = old && *old ? std::string(old) + sep + value : value;
    setenv(name, text.c_str(), 1);
}

}  // namespace

int main(int argc, char **argv) {
    options opt;
    if (int status = parse(argc, argv, &opt))
        return status < 0 ? 0 : status;

    if (!make_dirs(opt.state)) {
        std::fprintf(stderr, "emulated-headset: cannot create state folder %s: %s\n",
                     opt.state.c_str(), std::strerror(errno));
        return 1;
    }
    char *resolved = realpath(opt.state.c_str(), nullptr);
    if (!resolved) {
        std::fprintf(stderr, "emulated-headset: %s: %s\n", opt.state.c_str(),
                     std::strerror(errno));
        return 1;
    }
    opt.state = resolved;
    std::free(resolved);
    if (access(opt.state.c_str(), W_OK) != 0) {
        std::fprintf(stderr,
                     "emulated-headset: state folder %s is not writable; choose another "
                     "with --state DIR\n",
                     opt.state.c_str());
        return 1;
    }
    if (opt.reset) {
        for (const char *name : kImageNames) {
            std::string path = opt.state + "/" + name;
            if (unlink(path.c_str()) != 0 && errno != ENOENT) {
                std::fprintf(stderr, "emulated-headset: cannot remove %s: %s\n", path.c_str(),
                             std::strerror(errno));
                return 1;
            }
        }
    }

    emu_headset headset;
    headset.kernel_bits = opt.kernel_bits;
    if (opt.core)
        headset.chips.push_back(emu_core_chip(opt.core));
    if (opt.strap)
        headset.chips.push_back(emu_strap_chip(opt.strap));
    for (emu_device &chip : headset.chips)
        chip.backing_file = opt.state + "/" + chip.label + ".bin";

    std::string err;
    if (!emu_enter_namespace(&err) || !emu_mount_sys(headset, &err)) {
        std::fprintf(stderr, "emulated-headset: %s\n", err.c_str());
        return 1;
    }

    prepend_env("PATH", VELLUM_BIN_DIR, ":");
    prepend_env("LD_PRELOAD", EEPROM_XFER_LIB, ":");
    // A sanitized vellum insists on its runtime coming first; the preload
    // comes before it, which is harmless here.
    append_env("ASAN_OPTIONS", "verify_asan_link_order=0", ":");

    std::vector<char *> &command = opt.command;
    if (command.size() == 1) {
        const char *shell = std::getenv("SHELL");
        if (!shell || !*shell || access(shell, X_OK) != 0)
            shell = "/bin/sh";
        std::fprintf(stderr, "Emulated headset:");
        if (headset.chips.empty())
            std::fprintf(stderr, " no EEPROMs fitted");
        const char *sep = " ";
        for (const emu_device &chip : headset.chips) {
            std::fprintf(stderr, "%s%s at %s (%u bytes)", sep,
                         emu_label_dir(headset, chip).c_str(),
                         emu_device_name(chip).c_str(), chip.size);
            sep = ", ";
        }
        std::fprintf(stderr,
                     ".\nImages in %s. vellum is on PATH; 'exit' leaves the headset.\n",
                     opt.state.c_str());
        command.insert(command.begin(), const_cast<char *>(shell));
    }
    execvp(command[0], command.data());
    int saved = errno;
    std::fprintf(stderr, "emulated-headset: cannot run %s: %s\n", command[0],
                 std::strerror(saved));
    return saved == ENOENT ? 127 : 126;
}
