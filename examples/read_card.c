/* Reads the eID card in the first reader that holds one, through
 * libselvane.so: identity and address as NAME=value lines, the photo into a
 * file. Build and run (see README):
 *   cc read_card.c $(pkg-config --cflags --libs selvane) -o read_card
 *   ./read_card [PHOTO_FILE]      (default photo.jpg)                     */
#include <selvane.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
    static char readers[SELVANE_DEVICES_SIZE], identity[SELVANE_EID_ID_TEXT_SIZE];
    static char address[SELVANE_EID_ADDRESS_TEXT_SIZE];
    static unsigned char photo[SELVANE_PHOTO_SIZE];
    const char *photo_file = argc > 1 ? argv[1] : "photo.jpg";
    int32_t photo_len = 0;
    if (PCSC_Get_devices(SELVANE_MODE_LINES, readers) != 0 || readers[0] == '\0') {
        fprintf(stderr, "no readers\n");
        return 1;
    }
    for (char *reader = strtok(readers, "\n"); reader; reader = strtok(NULL, "\n")) {
        identity[0] = address[0] = '\0'; /* the read appends to these texts */
        if (PCSC_Open_device(reader) <= 0 ||
            PCSC_EID_Read(0, SELVANE_MODE_LINES, identity, address, photo, &photo_len) != 0)
            continue; /* no card, or not an eID card */
        printf("reader: %s\n%s%s", reader, identity, address);
        FILE *file = fopen(photo_file, "wb");
        int written = file && fwrite(photo, 1, (size_t)photo_len, file) == (size_t)photo_len;
        if (file && fclose(file) != 0) written = 0;
        printf("photo: %d bytes %s %s\n", photo_len, written ? "written to" : "NOT written to", photo_file);
        return written ? 0 : 1;
    }
    fprintf(stderr, "no eID card in any reader\n");
    return 1;
}
