/* identity: the unit's serial number, MAC addresses and calibration blob,
 * read through one read-only snapshot of the headset's EEPROMs.
 *
 *   cc identity.c -o identity $(pkg-config --cflags --libs vellum)
 */
#include <stdio.h>
#include <stdlib.h>

#include <vellum.h>

/* What the tool would print on standard error, for a reader of the log. */
static void to_stderr(void *user, const char *text) {
    (void)user;
    fputs(text, stderr);
}

static void print_mac(vellum_session *s, const char *item) {
    uint8_t mac[6];
    if (vellum_read_mac(s, item, mac) == VELLUM_OK)
        printf("%s %02X:%02X:%02X:%02X:%02X:%02X\n", item, mac[0], mac[1], mac[2], mac[3],
               mac[4], mac[5]);
}

int main(void) {
    void *memory = malloc(vellum_session_size());
    vellum_session *s = NULL;
    if (!memory || vellum_open(memory, vellum_session_size(), VELLUM_READ_ONLY, &s) != VELLUM_OK)
        return 1;
    vellum_set_diagnostics(s, to_stderr, NULL);

    /* Every region read once, every read below answered from it. */
    int status = vellum_snapshot(s);
    char serial[32];
    size_t length = 0;
    if (vellum_read_text(s, "unit_sn", serial, sizeof serial, &length) == VELLUM_OK)
        printf("unit_sn %s\n", serial);
    print_mac(s, "mac_addr_wifi");
    print_mac(s, "mac_addr_ble");
    static uint8_t blob[4096];
    if (vellum_read_bytes(s, "device_config", blob, sizeof blob, &length) == VELLUM_OK)
        printf("device_config %zu bytes\n", length);

    printf("vellum %s: %s\n", vellum_version(), vellum_status_text(status));
    vellum_close(s);
    free(memory);
    return status == VELLUM_OK ? 0 : 2;
}
