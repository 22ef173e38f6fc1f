// The library's messages and result codes against their literal statement
// (literal_messages.h): the header the library prints from and the model
// expects from, and what real calls print.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>

#include "bitmap_builder.h"
#include "literal_messages.h"
#include "test_support.h"

namespace tintwell_test {
namespace {

struct HeaderMessage {
    std::string_view name;
    std::string_view bytes;
};

#define HEADER_MESSAGE(name) HeaderMessage{#name, std::string_view{name, sizeof(name) - 1}}

// Every constant of processing/messages.h.
constexpr HeaderMessage kHeaderMessages[] = {
    HEADER_MESSAGE(kLoadPrompt),   HEADER_MESSAGE(kLoadFailure),    HEADER_MESSAGE(kAllocationFailure),
    HEADER_MESSAGE(kReadCompleteFormat), HEADER_MESSAGE(kRejection), HEADER_MESSAGE(kExit),
    HEADER_MESSAGE(kSavePrompt),   HEADER_MESSAGE(kSaveFailure),    HEADER_MESSAGE(kIncreasePrompt),
    HEADER_MESSAGE(kEchoFormat),   HEADER_MESSAGE(kDecreasePrompt),
};

TEST(Messages, TheHeaderHoldsTheLiteralBytes) {
    ASSERT_EQ(std::size(kHeaderMessages), std::size(literal::kMessages));
    for (const literal::Message& message : literal::kMessages) {
        SCOPED_TRACE(message.name);
        EXPECT_EQ(message.bytes.size(), message.size) << "the literal statement's escapes";
        const auto* header = std::find_if(std::begin(kHeaderMessages), std::end(kHeaderMessages),
                                          [&](const HeaderMessage& m) { return m.name == message.name; });
        ASSERT_NE(header, std::end(kHeaderMessages)) << "not in processing/messages.h";
        EXPECT_EQ(header->bytes, message.bytes);
    }
}

TEST(ResultCodes, AreTheLiteralNumbers) {
    const std::int32_t results[] = {TINTWELL_RESULT_WRITTEN,     TINTWELL_RESULT_EXITED,
                                    TINTWELL_RESULT_LOAD_FAILED, TINTWELL_RESULT_ALLOCATION_FAILED,
                                    TINTWELL_RESULT_REJECTED,    TINTWELL_RESULT_SAVE_FAILED};
    ASSERT_EQ(std::size(results), std::size(literal::kResultCodes));
    for (std::size_t i = 0; i < std::size(results); ++i) {
        EXPECT_EQ(results[i], literal::kResultCodes[i].value) << literal::kResultCodes[i].name;
    }
    for (std::size_t i = 0; i < std::size(literal::kFunctionNumbers); ++i) {
        EXPECT_EQ(static_cast<std::int32_t>(TINTWELL_FUNCTION_COPY + i), literal::kFunctionNumbers[i].value)
            << literal::kFunctionNumbers[i].name;
    }
    EXPECT_EQ(TINTWELL_FUNCTION_EXIT, literal::kFunctionNumbers[std::size(literal::kFunctionNumbers) - 1].value);
}

std::string Formatted(std::string_view format, int a, int b, int c) {
    char text[256];
    std::snprintf(text, sizeof text, std::string(format).c_str(), a, b, c);
    return text;
}

struct PrintedCase {
    const char* what;
    bool input_exists;
    std::int32_t function;
    std::int32_t amount;
    std::int32_t result;
    // After the load prompt and, when the input exists, the read complete
    // message; the echo stands for the echo of the amount.
    std::vector<std::string_view> then;
};

void PrintTo(const PrintedCase& c, std::ostream* out) { *out << c.what; }

class PrintedBytes : public testing::TestWithParam<PrintedCase> {};

// What real calls print, byte for byte, with no expectation taken from the
// library's own header.
TEST_P(PrintedBytes, AreTheLiteralMessages) {
    const PrintedCase& c = GetParam();
    TempDir dir;
    std::mt19937 random(42);
    const Bytes picture = MakeRandomBmp(3, 2, random);  // rows of 9 bytes and 3 of padding: 78 bytes
    if (c.input_exists) WriteBytes(dir.File("in.bmp"), picture);
    const CallOutcome outcome = CallTintwell(dir.File("in.bmp"), dir.File("out.bmp"), c.amount, c.function);
    std::string expected{literal::Bytes("kLoadPrompt")};
    if (c.input_exists) expected += Formatted(literal::Bytes("kReadCompleteFormat"), 3, 2, 78);
    for (const std::string_view name : c.then) {
        expected += name == "kEchoFormat" ? Formatted(literal::Bytes(name), c.amount, c.amount, c.amount)
                                          : std::string{literal::Bytes(name)};
    }
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.stdout_bytes, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, PrintedBytes,
    testing::Values(PrintedCase{"missing input", false, 1, 0, 123, {"kLoadFailure"}},
                    PrintedCase{"copy", true, 1, 0, 999, {"kSavePrompt"}},
                    PrintedCase{"exit", true, 10, 0, 0, {"kExit"}},
                    PrintedCase{"rejected", true, 11, 0, 432, {"kRejection"}},
                    PrintedCase{"tint up", true, 8, -7, 999, {"kSavePrompt", "kIncreasePrompt", "kEchoFormat"}},
                    PrintedCase{"tint down", true, 9, 40, 999, {"kSavePrompt", "kDecreasePrompt"}}));

}  // namespace
}  // namespace tintwell_test
