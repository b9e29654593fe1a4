// What is installed on the device: a binary and a shared library that need
// nothing but the C library, the manual pages (compressed) and the bash
// completion.
#include "headset_fixtures.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

// The libraries the program names in its dynamic section (NEEDED).
std::vector<std::string> needed_libraries(const std::string &program) {
    const run_result r = run_program("/usr/bin/readelf", {"-d", "-W", program});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> names;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find("(NEEDED)");
        const size_t open = line.find('[', at);
        if (at != std::string::npos && open != std::string::npos)
            names.push_back(line.substr(open + 1, line.find(']', open) - open - 1));
    }
    return names;
}

TEST(Linkage, VellumNeedsOnlyTheCLibrary) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "this build links the sanitizer runtimes into vellum";
#endif
    // Headset images may ship no C++ runtime: no libstdc++, libgcc_s or libm.
    EXPECT_EQ(needed_libraries(VELLUM_BINARY), std::vector<std::string>{"libc.so.6"});
}

TEST(Linkage, LibvellumNeedsOnlyTheCLibrary) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "this build links the sanitizer runtimes into libvellum.so.0";
#endif
    // Linked as C with -z defs: a C++ runtime reference fails the link.
    EXPECT_EQ(needed_libraries(VELLUM_SHARED_LIBRARY), std::vector<std::string>{"libc.so.6"});
}

// The manual pages: vellum(1) of the tool, vellum(3) of the library.
struct man_page {
    const char *section;
    const char *page;  // build/.../doc/vellum.N
    const char *gz;    // what the packages install as usr/share/man/manN/vellum.N.gz
};
constexpr man_page kManPages[] = {{"1", VELLUM_MAN_PAGE, VELLUM_MAN_PAGE_GZ},
                                  {"3", VELLUM_MAN_PAGE_3, VELLUM_MAN_PAGE_3_GZ}};

TEST(ManualPage, CarriesTheProjectVersionAndFormatsWithoutWarnings) {
    for (const man_page &m : kManPages) {
        SCOPED_TRACE(m.page);
        std::ifstream page(m.page);
        std::string title;
        ASSERT_TRUE(std::getline(page, title));
        EXPECT_TRUE(title.starts_with(std::string(".TH VELLUM ") + m.section + " ")) << title;
        EXPECT_NE(title.find(std::string("\"vellum ") + VELLUM_VERSION + "\""),
                  std::string::npos)
            << title;
        const run_result r = run_program("/usr/bin/groff", {"-ww", "-man", "-z", m.page});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
    }
}

// Installed compressed as Debian wants it (gzip -9n): the same bytes on
// every build.
TEST(ManualPage, IsInstalledCompressedWithoutNameOrTimeStamp) {
    for (const man_page &m : kManPages) {
        SCOPED_TRACE(m.gz);
        std::ifstream gz(m.gz, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(gz), {}};
        ASSERT_GE(bytes.size(), 18u);
        EXPECT_EQ(bytes.substr(0, 3), std::string("\x1f\x8b\x08", 3)) << "no gzip file";
        EXPECT_EQ(bytes[3] & 0x08, 0) << "the header holds a file name (gzip without -n)";
        EXPECT_EQ(bytes.substr(4, 4), std::string(4, '\0')) << "the header holds a time stamp";
        EXPECT_EQ(bytes[8], 2) << "not compressed with the best compression (-9)";
        const run_result r = run_program("/usr/bin/gzip", {"-dc", m.gz});
        EXPECT_EQ(r.status, 0) << r.err;
        std::ifstream page(m.page, std::ios::binary);
        EXPECT_EQ(r.out, std::string(std::istreambuf_iterator<char>(page), {}));
    }
}

// Runs the completion for a command line whose last word is being typed,
// in a folder holding `my cal.bin` and `other.bin`, with the built vellum
// on PATH; returns the replies, one per line.
class Completion : public ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        std::filesystem::create_directory(dir_ + "/bin");
        std::filesystem::create_symlink(VELLUM_COMMAND, dir_ + "/bin/vellum");
        for (const char *name : {"my cal.bin", "other.bin"}) std::ofstream(dir_ + "/" + name);
    }

    run_result complete(const std::vector<std::string> &words) const {
        std::vector<std::string> args = {
            "-c",
            "cd \"$1\" && PATH=\"$1/bin:$PATH\" && source \"$2\" && shift 2 &&"
            " COMP_WORDS=(\"$@\") && COMP_CWORD=$(($# - 1)) && _vellum &&"
            " printf '%s\\n' \"${COMPREPLY[@]}\" && complete -p vellum",
            "completion", dir_, std::string(VELLUM_SOURCE_DIR) + "/doc/vellum.bash-completion"};
        args.insert(args.end(), words.begin(), words.end());
        return run_program("/bin/bash", args);
    }
};

TEST_F(Completion, OffersCommandsOptionsNamesAndWholeFileNames) {
    headset(2, 2);
    const struct {
        std::vector<std::string> words;
        std::string replies;
    } rows[] = {
        {{"vellum", "ver"}, "version\nverify\n"},
        {{"vellum", "--"}, "--help\n--version\n--chip\n"},
        {{"vellum", "-"}, "--help\n--version\n--chip\n"},
        // Chip files: a label, then its file (bash splits the word at '=');
        // the command comes after them.
        {{"vellum", "--chip", "core_v"}, "core_v2_eeprom=\n"},
        {{"vellum", "--chip", "strap_v2_eeprom", "=", "ot"}, "other.bin\n"},
        {{"vellum", "--chip", "strap_v2_eeprom", "=", "other.bin", "ve"}, "version\nverify\n"},
        {{"vellum", "--chip", "c=x", "lock", "v"}, "vrcal\n"},
        {{"vellum", "apply", "--d"}, "--dry-run\n"},
        {{"vellum", "apply", "--dry-run", "ot"}, "other.bin\n"},
        {{"vellum", "verify", "ot"}, "other.bin\n"},
        // Names come from the help listing of the fitted hardware.
        {{"vellum", "lock", "c"}, "core\n"},
        {{"vellum", "get", "unit"}, "unit_sn\nunit_config\n"},
        // A file name with a blank is one reply, quoted on the line.
        {{"vellum", "set", "device_config", "my"}, "my cal.bin\n"},
        {{"vellum", "get", "device_config", "ot"}, "other.bin\n"},
        {{"vellum", "re"}, "reset\nrestore\n"},
        {{"vellum", "dump", "v"}, "vrcal\n"},
        {{"vellum", "restore", "core", "my"}, "my cal.bin\n"},
        {{"vellum", "apply", "ot"}, "other.bin\n"},
        {{"vellum", "version", "x", "y"}, "\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.words.back());
        const run_result r = complete(row.words);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, row.replies + "complete -o filenames -F _vellum vellum\n");
    }
}

}  // namespace
