// Every test process gets its own mount namespace before any test runs, so
// the tmpfs that each test mounts over /sys is private to it and its
// children, and vanishes with the process.
#include "emulated_sysfs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    // Listing the tests (as test discovery does) touches nothing.
    if (!GTEST_FLAG_GET(list_tests)) {
        std::string err;
        if (!emu_enter_namespace(&err)) {
            std::fprintf(stderr,
                         "cannot enter a private mount namespace for the emulated headset: "
                         "%s\n(run the tests as root, or enable unprivileged user "
                         "namespaces)\n",
                         err.c_str());
            return 1;
        }
    }
    return RUN_ALL_TESTS();
}
