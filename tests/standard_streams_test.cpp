// The standard streams: started with descriptor 0, 1 or 2 closed, vellum
// never lets the chip land on one of them; a standard output that fails
// makes what was to be printed fail with status 3.
#include "end_to_end.h"

namespace {

const std::string FC = found("core");

// vellum with the shell's redirections applied first (">&-", ">/dev/full").
e2e_row redirected(const std::string &redirections, const std::string &words, int status,
                   const std::string &out, const std::string &err) {
    return e2e_row{
        redirections + " " + words, {"sh", "exec %V " + words + " " + redirections}, status, out, err}
        .then();
}

TEST(StandardStreams, ClosedDescriptorsNeverReachTheChip) {
    std::vector<e2e_row> rows = {
        redirected("<&-", "get unit_sn", 0, "SN-1", FC + shown("unit_sn")),
        redirected(">&-", "get unit_sn", 3, "", FC + "unit_sn: " + WRITE_FAILED),
        redirected("2>&-", "get unit_sn", 0, "SN-1", ""),
        redirected("<&- >&- 2>&-", "get unit_sn", 3, "", ""),
        redirected("2>&-", "set unit_sn SN-0123456789ABC", 7, "", ""),
        redirected("<&-", "set device_config /dev/stdin", 2, "", "\nRead Failed, errno: 21\n"),
        redirected(">&-", "get device_config /dev/stdout", 7, "",
                   found("vrcal") + cannot_create("/dev/stdout", 21)),
        redirected(">&-", "help", 3, "", WRITE_FAILED),
        redirected("<&- >&- 2>&-", "set unit_sn SN-2", 0, "", "")
            .writing({{&CORE, image_for(CORE, {field("unit_sn", "SN-2")})}}),
    };
    rows[0] = rows[0].holding({{&CORE, image_for(CORE, {field("unit_sn", "SN-1")})},
                               {&VRCAL, image_for(VRCAL, {blob("device_config", text("CAL"))})}});
    play(rows);
}

TEST(StandardStreams, AFullStandardOutputFailsWhatWasToBePrinted) {
    // print_all lists everything first, then reports once.
    std::vector<e2e_row> rows = {
        redirected(">/dev/full", "get unit_sn", 3, "", FC + "unit_sn: " + WRITE_FAILED),
        redirected(">/dev/full", "get mpcba_sn", 5, "", FC + not_set("mpcba_sn")),
        redirected(">/dev/full", "set unit_sn SN-1", 0, "", FC),
        redirected(">/dev/full", "help", 3, "", WRITE_FAILED),
        redirected(">/dev/full", "version", 3, "", WRITE_FAILED),
        redirected(">/dev/full", "--help", 3, "", WRITE_FAILED),
        redirected(">/dev/full", "-V", 3, "", WRITE_FAILED),
        redirected(">/dev/full", "", 3, "", WRITE_FAILED),
        redirected(">/dev/full", "frobnicate", 3, "", WRITE_FAILED),
        redirected(">/dev/full", "print_all", 3, "", golden("print_all-full-standard-output.err")),
    };
    rows[0] = rows[0].holding({{&CORE, image_for(CORE, {field("unit_sn", "SN-1")})}});
    play(rows);
}

}  // namespace
