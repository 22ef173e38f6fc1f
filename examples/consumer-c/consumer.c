/*
 * A C11 program that links KorvaneTintwell directly and edits a picture.
 *
 * Run it in the directory that `tintwell demo` wrote: it brightens
 * original.bmp by 60 into consumer-c.bmp (the same pixels as the demo's
 * 2-brighten.bmp) and checks the result codes of a good and a bad call.
 *
 * File names are UTF-16: on Linux the header declares them as char16_t
 * from <uchar.h>, so C writes them as u"..." literals.
 */
#include <stdio.h>

#include <korvane/tintwell.h>

static int Expect(const char* what, int32_t result, int32_t expected) {
    /* The library prints on stdout; keep our lines after its messages. */
    fflush(stdout);
    if (result == expected) return 1;
    fprintf(stderr, "consumer-c: %s returned %d, expected %d\n", what, (int)result, (int)expected);
    return 0;
}

int main(void) {
    const int32_t brightened = Tintwell(u"original.bmp", u"consumer-c.bmp", 60, TINTWELL_FUNCTION_BRIGHTEN);
    const int32_t missing = Tintwell(u"no-such-picture.bmp", u"never-written.bmp", 0, TINTWELL_FUNCTION_COPY);
    if (!Expect("brighten 60 of original.bmp", brightened, TINTWELL_RESULT_WRITTEN) ||
        !Expect("copy of a missing picture", missing, TINTWELL_RESULT_LOAD_FAILED)) {
        return 1;
    }
    printf("consumer-c: wrote consumer-c.bmp\n");
    return 0;
}
