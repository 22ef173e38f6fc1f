/* Calls rand() as often as the noise edit does on a picture, and nothing
 * else: the floor that the noise edit cannot go below.
 * Usage: bare_rand CALLS */
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fputs("usage: bare_rand CALLS\n", stderr);
        return 1;
    }
    const unsigned long long calls = strtoull(argv[1], NULL, 10);
    unsigned long long sum = 0;
    for (unsigned long long i = 0; i < calls; ++i) sum += (unsigned)rand();
    /* Printing the sum keeps the calls from being optimised away. */
    printf("%llu\n", sum);
    return 0;
}
