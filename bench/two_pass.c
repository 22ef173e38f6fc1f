/* The floor of the library's own design, with nothing else around it: a
 * first pass reads every pixel byte through a 1 MiB window (so that a read
 * error is found before the output is touched), then a second pass reads
 * each 1 MiB slice again, inverts it and writes it behind the header.
 * Usage: two_pass IN OUT   (IN: a 24-bit picture with a 54-byte header) */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#define HEADER_BYTES 54
#define WINDOW ((size_t)1 << 20)

static int read_fully(int fd, unsigned char* buffer, size_t size, off_t offset) {
    for (size_t done = 0; done < size;) {
        const ssize_t count = pread(fd, buffer + done, size - done, offset + (off_t)done);
        if (count <= 0) return -1;
        done += (size_t)count;
    }
    return 0;
}

static int write_fully(int fd, const unsigned char* buffer, size_t size) {
    for (size_t done = 0; done < size;) {
        const ssize_t count = write(fd, buffer + done, size - done);
        if (count <= 0) return -1;
        done += (size_t)count;
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fputs("usage: two_pass IN OUT\n", stderr);
        return 1;
    }
    const int in = open(argv[1], O_RDONLY);
    struct stat info;
    if (in < 0 || fstat(in, &info) != 0 || info.st_size < HEADER_BYTES) return 1;
    const size_t pixel_bytes = (size_t)info.st_size - HEADER_BYTES;
    unsigned char header[HEADER_BYTES];
    unsigned char* window = malloc(WINDOW);
    if (window == NULL || read_fully(in, header, HEADER_BYTES, 0) != 0) return 1;

    for (size_t first = 0; first < pixel_bytes; first += WINDOW) {
        const size_t size = pixel_bytes - first < WINDOW ? pixel_bytes - first : WINDOW;
        if (read_fully(in, window, size, HEADER_BYTES + (off_t)first) != 0) return 1;
    }

    const int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0 || write_fully(out, header, HEADER_BYTES) != 0) return 1;
    for (size_t first = 0; first < pixel_bytes; first += WINDOW) {
        const size_t size = pixel_bytes - first < WINDOW ? pixel_bytes - first : WINDOW;
        if (read_fully(in, window, size, HEADER_BYTES + (off_t)first) != 0) return 1;
        for (size_t i = 0; i < size; ++i) window[i] = (unsigned char)(255 - window[i]);
        if (write_fully(out, window, size) != 0) return 1;
    }
    free(window);
    close(in);
    return close(out) == 0 ? 0 : 1;
}
