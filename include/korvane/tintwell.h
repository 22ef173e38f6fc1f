/*
 * KorvaneTintwell: edits 24-bit BMP pictures, one whole picture per call.
 *
 * The library exports exactly one function, Tintwell(). This header is the
 * single source of its result codes and function numbers; it is valid C11
 * and C++.
 */
#ifndef KORVANE_TINTWELL_H
#define KORVANE_TINTWELL_H

#include <stdint.h>

#if defined(_WIN32)
#include <wchar.h>
/** One UTF-16 code unit of a file name (wchar_t is 16 bits on Windows). */
typedef wchar_t TintwellChar16;
#elif defined(__cplusplus)
/** One UTF-16 code unit of a file name. */
typedef char16_t TintwellChar16;
#else
#include <uchar.h>
/** One UTF-16 code unit of a file name. */
typedef char16_t TintwellChar16;
#endif

#if defined(_WIN32)
/* Windows exports through the module definition file, never dllexport. */
#define TINTWELL_API
#elif defined(KORVANE_TINTWELL_BUILDING)
#define TINTWELL_API __attribute__((visibility("default")))
#else
#define TINTWELL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** Result codes returned by Tintwell(). */
enum TintwellResult {
    /** The output file was written. */
    TINTWELL_RESULT_WRITTEN = 999,
    /** Function TINTWELL_FUNCTION_EXIT: the input was read, nothing was written. */
    TINTWELL_RESULT_EXITED = 0,
    /** The input file could not be opened or read. */
    TINTWELL_RESULT_LOAD_FAILED = 123,
    /** The pixel buffer could not be allocated (or its size is out of range). */
    TINTWELL_RESULT_ALLOCATION_FAILED = -1,
    /** The function number is not between 1 and 10. */
    TINTWELL_RESULT_REJECTED = 432,
    /** The output could not be opened after 3 attempts, or writing it failed. */
    TINTWELL_RESULT_SAVE_FAILED = 124
};

/** Function numbers: the fourth argument of Tintwell(). */
enum TintwellFunction {
    /** Copy the source pixels unchanged. */
    TINTWELL_FUNCTION_COPY = 1,
    /** Raise every channel by the amount, capped at 255. */
    TINTWELL_FUNCTION_BRIGHTEN = 2,
    /** Lower every channel by the amount, floored at 0. */
    TINTWELL_FUNCTION_DARKEN = 3,
    /** Black-and-white: every channel becomes the pixel's gray value. */
    TINTWELL_FUNCTION_GRAY = 4,
    /** Invert every channel (255 minus the value). */
    TINTWELL_FUNCTION_INVERT = 5,
    /** Each channel becomes 255 where it is at least the amount, else 0. */
    TINTWELL_FUNCTION_THRESHOLD = 6,
    /** Raise each channel by a random value below the amount (uses rand()). */
    TINTWELL_FUNCTION_NOISE = 7,
    /** Same pixels as BRIGHTEN, with a prompt and an echo of the amount. */
    TINTWELL_FUNCTION_TINT_UP = 8,
    /** Same pixels as DARKEN, with a prompt. */
    TINTWELL_FUNCTION_TINT_DOWN = 9,
    /** Read the input and end without writing anything. */
    TINTWELL_FUNCTION_EXIT = 10
};

/**
 * Reads the 24-bit BMP file named by input, applies the edit chosen by
 * function with the given amount, and writes the result behind the input's
 * unchanged 54-byte header to the file named by output. Names are
 * NUL-terminated UTF-16 strings. Progress and error messages are printed
 * on stdout. Returns one of the TintwellResult codes.
 */
TINTWELL_API int32_t Tintwell(const TintwellChar16* input, const TintwellChar16* output,
                              int32_t amount, int32_t function);

/**
 * The type of Tintwell(), for hosts that load the library at run time and
 * look the function up by name (dlsym) or by ordinal 1 (GetProcAddress).
 * A type only: it exports nothing.
 */
typedef int32_t (*TintwellEntry)(const TintwellChar16* input, const TintwellChar16* output,
                                 int32_t amount, int32_t function);

#ifdef __cplusplus
}
#endif

#endif /* KORVANE_TINTWELL_H */
