/* Edits a picture onto itself with one direct call of the library: the
 * output is the input. compare.py copies the picture afresh before each
 * timed run.
 * Usage: in_place FUNCTION AMOUNT FILE   (FILE: an ASCII path) */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "korvane/tintwell.h"

enum { kMaxName = 4096 };

int main(int argc, char** argv) {
    if (argc != 4 || strlen(argv[3]) >= kMaxName) {
        fputs("usage: in_place FUNCTION AMOUNT FILE\n", stderr);
        return 1;
    }
    static TintwellChar16 name[kMaxName];
    for (size_t i = 0; argv[3][i] != '\0'; ++i) name[i] = (TintwellChar16)(unsigned char)argv[3][i];
    const int32_t result = Tintwell(name, name, (int32_t)atoi(argv[2]), (int32_t)atoi(argv[1]));
    return result == TINTWELL_RESULT_WRITTEN ? 0 : 2;
}
