/* Compiled as C11 with -Wpedantic: the public header must work from C. */
#include <stddef.h>

#include "korvane/tintwell.h"

_Static_assert(TINTWELL_RESULT_WRITTEN == 999, "result code");
_Static_assert(TINTWELL_RESULT_ALLOCATION_FAILED == -1, "result code");
_Static_assert(TINTWELL_FUNCTION_EXIT == 10, "function number");
_Static_assert(sizeof(TintwellChar16) == 2, "UTF-16 code unit");

int main(void) {
    /* The typedef and the function must agree: no cast here. */
    TintwellEntry entry = Tintwell;
    /* A null input name never opens; the call only prints and returns 123. */
    return entry(NULL, NULL, 0, TINTWELL_FUNCTION_COPY) == TINTWELL_RESULT_LOAD_FAILED ? 0 : 1;
}
