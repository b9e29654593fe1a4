// libvellum's interface, pinned: the calls libvellum.so.0 exports are the
// ones src/vellum.symbols lists, the header declares and vellum(3)
// describes, so that a change of any of them is a decision made in the
// list; and the header compiles warning-free as C99 and as C++20.
#include "headset_fixtures.h"

#include <cctype>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace {

using names = std::set<std::string>;

std::string file_text(const std::string &path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The list kept in the repository: one name per line; # starts a comment.
names listed_calls() {
    std::istringstream lines(file_text(std::string(VELLUM_SOURCE_DIR) + "/src/vellum.symbols"));
    names calls;
    std::string previous;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        EXPECT_LT(previous, line) << "src/vellum.symbols is not sorted, or names a call twice";
        calls.insert(line);
        previous = line;
    }
    return calls;
}

// Every `vellum_name(` in the text: a call declared or shown.
names calls_in(const std::string &text) {
    static const std::regex call(R"(\bvellum_[a-z0-9_]+\()");
    names found;
    for (auto m = std::sregex_iterator(text.begin(), text.end(), call);
         m != std::sregex_iterator(); ++m)
        found.insert(m->str().substr(0, m->str().size() - 1));
    return found;
}

TEST(LibraryInterface, TheSharedLibraryExportsTheListedCallsAlone) {
    // readelf reads the target's ELF in every build; each defined dynamic
    // symbol must be a listed call in the version node of src/vellum.map.
    const run_result r = run_program("/usr/bin/readelf", {"--dyn-syms", "-W", VELLUM_SHARED_LIBRARY});
    ASSERT_EQ(r.status, 0) << r.err;
    names exported;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string num, value, size, type, bind, vis, ndx, name;
        if (!(words >> num >> value >> size >> type >> bind >> vis >> ndx >> name) ||
            num.back() != ':' || !std::isdigit(static_cast<unsigned char>(num[0])) ||
            ndx == "UND" || bind == "LOCAL")
            continue;
        if (name == "VELLUM_0" && ndx == "ABS") continue;  // the version node itself
        const size_t at = name.find('@');
        EXPECT_EQ(at == std::string::npos ? "" : name.substr(at), "@@VELLUM_0") << line;
        EXPECT_EQ(type, "FUNC") << line;
        exported.insert(name.substr(0, at));
    }
    EXPECT_EQ(exported, listed_calls())
        << "the interface changed: update src/vellum.symbols, the manual page and the "
           "version (a removed call needs a new soname)";
}

TEST(LibraryInterface, TheHeaderDeclaresAndTheManualPageDescribesEveryListedCall) {
    const names listed = listed_calls();
    EXPECT_EQ(calls_in(file_text(std::string(VELLUM_SOURCE_DIR) + "/include/vellum.h.in")),
              listed);
    // The synopsis declares each call; the rest of the page says what it does.
    const std::string page = file_text(VELLUM_MAN_PAGE_3);
    const size_t synopsis = page.find(".SH SYNOPSIS"), description = page.find(".SH DESCRIPTION");
    ASSERT_NE(synopsis, std::string::npos);
    ASSERT_NE(description, std::string::npos);
    EXPECT_EQ(calls_in(page.substr(synopsis, description - synopsis)), listed);
    // Each has a paragraph of its own: the calls a .TP heading names.
    static const std::regex name(R"(\bvellum_[a-z0-9_]+\b)");
    names headed;
    std::istringstream lines(page.substr(description));
    for (std::string line, previous; std::getline(lines, line); previous = line)
        if (previous == ".TP")
            for (auto m = std::sregex_iterator(line.begin(), line.end(), name);
                 m != std::sregex_iterator(); ++m)
                headed.insert(m->str());
    EXPECT_EQ(headed, listed);
}

// A program that includes the header twice (its guard) and names each of
// its types, compiled with every warning an error.
class Header : public ScratchTest {
protected:
    run_result compile(const std::string &compiler, const std::vector<std::string> &flags,
                       const std::string &language) {
        const std::string source = dir_ + "/uses_header.c";
        std::ofstream(source) << "#include <vellum.h>\n#include <vellum.h>\n"
                                 "int main(void) {\n"
                                 "    vellum_session *session = 0;\n"
                                 "    vellum_diagnostic_fn diagnostics = 0;\n"
                                 "    vellum_line_fn lines = 0;\n"
                                 "    vellum_item_info item;\n"
                                 "    vellum_region_info region;\n"
                                 "    vellum_region_check check;\n"
                                 "    (void)session; (void)diagnostics; (void)lines;\n"
                                 "    (void)item; (void)region; (void)check;\n"
                                 "    return vellum_version() ? VELLUM_OK : VELLUM_DIFFERS;\n"
                                 "}\n";
        std::vector<std::string> args = flags;
        args.insert(args.end(), {"-Werror", "-I", VELLUM_INCLUDE_DIR, "-x", language, "-c",
                                 source, "-o", dir_ + "/uses_header.o"});
        return run_program(compiler, args);
    }
};

TEST_F(Header, CompilesWithoutWarningsAsC99AndAsCxx20) {
    const run_result c = compile(VELLUM_C_COMPILER, {"-std=c99", "-Wall", "-Wextra", "-pedantic"}, "c");
    EXPECT_EQ(c.status, 0) << c.err;
    EXPECT_EQ(c.err, "");
    const run_result cxx =
        compile(VELLUM_CXX_COMPILER, {"-std=c++20", "-Wall", "-Wextra", "-Wpedantic"}, "c++");
    EXPECT_EQ(cxx.status, 0) << cxx.err;
    EXPECT_EQ(cxx.err, "");
}

}  // namespace
