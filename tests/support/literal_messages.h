// Every message and format the library prints, and every result code, as
// this system's own bytes and numbers, written out here rather than taken
// from processing/messages.h or the public header: a test compares those
// with this file, so that one changed byte there is a failure here. Each
// message also states its length in bytes, a second check on the escapes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tintwell_test::literal {

struct Message {
    std::string_view name;  // the constant's name in processing/messages.h
    std::size_t size;       // bytes, without the terminating zero
    std::string_view bytes;
};

// UTF-8, byte by byte. The two tint prompts end without a newline. The
// formats take signed decimals: width, height and file size; the amount
// three times.
inline constexpr Message kMessages[] = {
    {"kLoadPrompt", 94,
     "\xEC\x82\xAC\xEC\xA7\x84 \xED\x8C\x8C\xEC\x9D\xBC\xEC\x9D\x84 \xEB\xB6\x88\xEB\x9F\xAC\xEC\x99\x80 "
     "\xEC\xA3\xBC\xEC\x84\xB8\xEC\x9A\x94  (\xED\x8C\x8C\xEC\x9D\xBC\xEB\xAA\x85\xEC\x9D\x84 "
     "\xEC\x9E\x85\xEB\xA0\xA5\xED\x95\x98\xEB\xA9\xB4 \xEB\xB6\x88\xEB\x9F\xAC\xEC\x98\xAC \xEC\x88\x98 "
     "\xEC\x9E\x88\xEC\x8A\xB5\xEB\x8B\x88\xEB\x8B\xA4.)\n"},
    {"kLoadFailure", 46,
     "\xED\x8C\x8C\xEC\x9D\xBC \xEB\xB6\x88\xEB\x9F\xAC\xEC\x98\xA4\xEA\xB8\xB0\xEC\x97\x90 "
     "\xEC\x8B\xA4\xED\x8C\xA8\xED\x95\x98\xEC\x98\x80\xEC\x8A\xB5\xEB\x8B\x88\xEB\x8B\xA4.\n"},
    {"kAllocationFailure", 89,
     "\xED\x94\xBD\xEC\x85\x80 \xEC\xA0\x95\xEB\xB3\xB4 \xEC\xA0\x80\xEC\x9E\xA5\xEC\x9D\x84 \xEC\x9C\x84\xED\x95\x9C "
     "\xEB\xA9\x94\xEB\xAA\xA8\xEB\xA6\xAC \xED\x95\xA0\xEB\x8B\xB9 \xEC\x8B\xA4\xED\x8C\xA8.. "
     "\xED\x94\x84\xEB\xA1\x9C\xEA\xB7\xB8\xEB\x9E\xA8\xEC\x9D\x84 "
     "\xEC\xA2\x85\xEB\xA3\x8C\xED\x95\xA9\xEB\x8B\x88\xEB\x8B\xA4\n"},
    {"kReadCompleteFormat", 38,
     "\xED\x8C\x8C\xEC\x9D\xBC \xEC\x9D\xBD\xEA\xB8\xB0 \xEC\x99\x84\xEB\xA3\x8C..%d x %d, %dbyte\n"},
    {"kRejection", 37,
     "\xEC\x8B\xA4\xED\x96\x89 \xEB\xB6\x88\xEA\xB0\x80\xEB\x8A\xA5\xED\x95\x9C "
     "\xEA\xB8\xB0\xEB\x8A\xA5\xEC\x9E\x85\xEB\x8B\x88\xEB\x8B\xA4.\n"},
    {"kExit", 20, "\xED\x94\x84\xEB\xA1\x9C\xEA\xB7\xB8\xEB\x9E\xA8 \xEC\xA2\x85\xEB\xA3\x8C\n"},
    {"kSavePrompt", 39,
     "\xEC\xA0\x80\xEC\x9E\xA5\xED\x95\xA0 \xED\x8C\x8C\xEC\x9D\xBC\xEB\xAA\x85\xEC\x9D\x84 "
     "\xEC\x9E\x85\xEB\xA0\xA5\xED\x95\x98\xEC\x84\xB8\xEC\x9A\x94\n"},
    {"kSaveFailure", 31,
     "\xED\x8C\x8C\xEC\x9D\xBC \xEC\xA0\x80\xEC\x9E\xA5 "
     "\xEC\x98\xA4\xEB\xA5\x98\xEC\x9E\x85\xEB\x8B\x88\xEB\x8B\xA4.\n"},
    {"kIncreasePrompt", 48,
     "\xEC\xA6\x9D\xEA\xB0\x80\xEB\x9F\x89\xEC\x9D\x84 \xEC\x9E\x85\xEB\xA0\xA5\xED\x95\x98\xEC\x84\xB8\xEC\x9A\x94 "
     "(R, G, B \xEC\x88\x9C\xEC\x9C\xBC\xEB\xA1\x9C)"},
    {"kEchoFormat", 28, "\xEC\x9E\x85\xEB\xA0\xA5\xEB\x90\x9C \xEC\x88\xAB\xEC\x9E\x90 : %d %d %d\n"},
    {"kDecreasePrompt", 48,
     "\xEA\xB0\x90\xEC\x86\x8C\xEB\x9F\x89\xEC\x9D\x84 \xEC\x9E\x85\xEB\xA0\xA5\xED\x95\x98\xEC\x84\xB8\xEC\x9A\x94 "
     "(R, G, B \xEC\x88\x9C\xEC\x9C\xBC\xEB\xA1\x9C)"},
};

struct Code {
    std::string_view name;  // the enumerator's name in korvane/tintwell.h
    std::int32_t value;
};

inline constexpr Code kResultCodes[] = {
    {"TINTWELL_RESULT_WRITTEN", 999},        {"TINTWELL_RESULT_EXITED", 0},
    {"TINTWELL_RESULT_LOAD_FAILED", 123},    {"TINTWELL_RESULT_ALLOCATION_FAILED", -1},
    {"TINTWELL_RESULT_REJECTED", 432},       {"TINTWELL_RESULT_SAVE_FAILED", 124},
};

inline constexpr Code kFunctionNumbers[] = {
    {"TINTWELL_FUNCTION_COPY", 1},      {"TINTWELL_FUNCTION_BRIGHTEN", 2},  {"TINTWELL_FUNCTION_DARKEN", 3},
    {"TINTWELL_FUNCTION_GRAY", 4},      {"TINTWELL_FUNCTION_INVERT", 5},    {"TINTWELL_FUNCTION_THRESHOLD", 6},
    {"TINTWELL_FUNCTION_NOISE", 7},     {"TINTWELL_FUNCTION_TINT_UP", 8},   {"TINTWELL_FUNCTION_TINT_DOWN", 9},
    {"TINTWELL_FUNCTION_EXIT", 10},
};

// The message of this name (the tests name only ones listed above).
constexpr std::string_view Bytes(std::string_view name) {
    for (const Message& message : kMessages) {
        if (message.name == name) return message.bytes;
    }
    return {};
}

}  // namespace tintwell_test::literal
