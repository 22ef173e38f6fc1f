/* Reads a whole file into one fresh buffer and writes it out again, the way
 * the library must hold a whole picture: the floor for any edit that keeps
 * the picture in memory, as cat is the floor for a program that need not.
 * The buffer's pages are put in place before the read, as the library's are
 * (the library does so a slice at a time).
 * Usage: whole_copy IN OUT */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

/* Writes go out 1 MiB at a time, as the library's slices do; one write of a
 * whole large file was measured much slower. */
#define WRITE_PIECE ((size_t)1 << 20)

static int transfer(int fd, unsigned char* buffer, size_t size, int writing) {
    for (size_t done = 0; done < size;) {
        const size_t piece = writing && size - done > WRITE_PIECE ? WRITE_PIECE : size - done;
        const ssize_t count = writing ? write(fd, buffer + done, piece) : read(fd, buffer + done, piece);
        if (count <= 0) return -1;
        done += (size_t)count;
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fputs("usage: whole_copy IN OUT\n", stderr);
        return 1;
    }
    const int in = open(argv[1], O_RDONLY);
    struct stat info;
    if (in < 0 || fstat(in, &info) != 0 || info.st_size <= 0) return 1;
    const size_t size = (size_t)info.st_size;
    unsigned char* buffer = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (buffer == MAP_FAILED || transfer(in, buffer, size, 0) != 0) return 1;
    close(in);
    const int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0 || transfer(out, buffer, size, 1) != 0 || close(out) != 0) return 1;
    munmap(buffer, size);
    return 0;
}
