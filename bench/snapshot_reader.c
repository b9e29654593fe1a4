/* snapshot_reader: every item of the fitted hardware read through one
 * read-only session and one snapshot of libvellum, as a service on the
 * headset reads them at boot. bench/run measures it against `vellum export`
 * and against one `vellum get` per item.
 *
 * Prints one line an item, "ITEM REGION KIND TEXT" (KIND: blob or value;
 * TEXT: what `vellum get` prints, a blob's data in base64). Exits 0 when
 * every item was read; otherwise 1, after the library's diagnostics and
 * what failed on standard error: the bench reads a headset with every item
 * set.
 *
 * Its own costs are kept out of the measure: the session and the output
 * buffer are static (no allocator started, standard output not examined),
 * and the diagnostics are kept in memory until a failure needs them.
 */
#include <stdio.h>
#include <string.h>

#include <vellum.h>

static union {
    long double align_ld;
    void *align_p;
    long long align_ll;
    unsigned char bytes[128 * 1024];
} memory;

static char diagnostics[4096];

static void keep(void *user, const char *text) {
    size_t used = strlen(diagnostics);
    (void)user;
    strncat(diagnostics, text, sizeof diagnostics - 1 - used);
}

static int fail(const char *what, int status) {
    fputs(diagnostics, stderr);
    diagnostics[0] = '\0';
    fprintf(stderr, "snapshot_reader: %s: %s (%d)\n", what, vellum_status_text(status), status);
    return 1;
}

int main(void) {
    /* All lines fit: the blobs' base64 is at most 8872 characters. */
    static char out[32768], text[16384];
    vellum_session *s = NULL;
    uint32_t count = 0, i;
    int status, failed = 0;
    setvbuf(stdout, out, _IOFBF, sizeof out);
    status = vellum_open(memory.bytes, sizeof memory.bytes, VELLUM_READ_ONLY, &s);
    if (status != VELLUM_OK) return fail("open", status);
    vellum_set_diagnostics(s, keep, NULL);
    if ((status = vellum_snapshot(s)) != VELLUM_OK) return fail("snapshot", status);
    if ((status = vellum_item_count(s, &count)) != VELLUM_OK) return fail("items", status);
    for (i = 0; i < count; ++i) {
        vellum_item_info info;
        size_t length = 0;
        if ((status = vellum_item_at(s, i, &info)) != VELLUM_OK) {
            failed = fail("an item's name", status);
            continue;
        }
        status = vellum_read_text(s, info.name, text, sizeof text, &length);
        if (status != VELLUM_OK) {
            failed = fail(info.name, status);
            continue;
        }
        printf("%s %s %s %s\n", info.name, info.region,
               info.kind == VELLUM_KIND_BINARY ? "blob" : "value", text);
    }
    vellum_close(s);
    return fflush(stdout) != 0 || failed;
}
