/*
 * A stand-in for the library in the host's batch tests: it picks what to do
 * from the input's name, so that one batch can mix outcomes the real
 * library cannot be made to give on demand.
 *   "...killed..."   the process dies as if the kernel killed it
 *   "...exits..."    ends the process with status 0 and never returns
 *   "...unknown..."  returns 77, a code the library never returns
 *   "...loud..."     prints far more than a pipe holds, then succeeds
 *   "...says..."     prints the bytes of $TINTWELL_FAKE_SAYS one at a time,
 *                    each flushed on its own, then succeeds
 *   anything else    prints one line naming the picture, returns 999
 * The host passes the files it opened as /proc/self/fd/N; the picture's
 * name is then the file name where that link points.
 */
#define _POSIX_C_SOURCE 200809L
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <uchar.h>
#include <unistd.h>

#define NAME_CAPACITY 512

/* The name as ASCII (other code units become '?'), cut to fit. */
static void AsciiName(const char16_t* name, char* ascii) {
    size_t i = 0;
    for (; name != NULL && name[i] != 0 && i + 1 < NAME_CAPACITY; ++i) {
        ascii[i] = name[i] < 0x80 ? (char)name[i] : '?';
    }
    ascii[i] = '\0';
}

__attribute__((visibility("default"))) int32_t Tintwell(const char16_t* input, const char16_t* output,
                                                        int32_t amount, int32_t function) {
    char name[NAME_CAPACITY];
    AsciiName(input, name);
    if (strncmp(name, "/proc/self/fd/", 14) == 0) {
        char target[NAME_CAPACITY];
        const ssize_t length = readlink(name, target, sizeof target - 1);
        if (length > 0) {
            target[length] = '\0';
            const char* slash = strrchr(target, '/');
            memmove(name, slash != NULL ? slash + 1 : target, strlen(slash != NULL ? slash + 1 : target) + 1);
        }
    }
    (void)output;
    if (strstr(name, "killed") != NULL) raise(SIGKILL);
    if (strstr(name, "exits") != NULL) exit(0);
    if (strstr(name, "unknown") != NULL) return 77;
    if (strstr(name, "loud") != NULL) {
        for (int line = 0; line < 20000; ++line) printf("fake: %s line %d\n", name, line);
    }
    if (strstr(name, "says") != NULL) {
        const char* says = getenv("TINTWELL_FAKE_SAYS");
        for (; says != NULL && *says != '\0'; ++says) {
            putchar(*says);
            fflush(stdout);
        }
        return 999;
    }
    printf("fake: %s amount %d function %d\n", name, (int)amount, (int)function);
    return 999;
}
