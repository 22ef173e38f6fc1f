#include "fuzz_checks.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include <iconv.h>

#include "bitmap_builder.h"
#include "model.h"
#include "test_support.h"

namespace tintwell_fuzz {
namespace {

namespace fs = std::filesystem;
using tintwell_test::Bytes;
using tintwell_test::CallOutcome;
using tintwell_test::ModelOutcome;

// The number of pixels the header claims, exactly.
std::int64_t ClaimedPixels(const Bytes& file) {
    return std::int64_t{tintwell_test::HeaderField(file, tintwell_test::kOffsetWidth)} *
           tintwell_test::HeaderField(file, tintwell_test::kOffsetHeight);
}

bool EditsPixels(std::int32_t function) {
    return function >= TINTWELL_FUNCTION_COPY && function < TINTWELL_FUNCTION_EXIT;
}

// The whole file in one read (the tests' byte-wise reader is too slow for
// millions of runs).
std::optional<Bytes> ReadFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return std::nullopt;
    Bytes bytes;
    std::uint8_t block[1 << 16];
    for (std::size_t count; (count = std::fread(block, 1, sizeof block, file)) > 0;) {
        bytes.insert(bytes.end(), block, block + count);
    }
    std::fclose(file);
    return bytes;
}

struct WholeCall {
    OutputKind output;
    std::int32_t function;
    std::int32_t amount;
    Bytes file;
};

std::int32_t LittleEndianAt(const std::uint8_t* data, std::size_t size, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4 && offset + i < size; ++i) value |= std::uint32_t{data[offset + i]} << (8 * i);
    return static_cast<std::int32_t>(value);
}

WholeCall DecodeWholeCall(const std::uint8_t* data, std::size_t size) {
    WholeCall call;
    call.output = static_cast<OutputKind>(size > 0 ? data[0] % 4 : 0);
    call.function = LittleEndianAt(data, size, 1);
    call.amount = LittleEndianAt(data, size, 5);
    if (size > kWholeCallPrefix) call.file.assign(data + kWholeCallPrefix, data + size);
    const std::int64_t pixels = ClaimedPixels(call.file);
    const bool has_rows = tintwell_test::HeaderField(call.file, tintwell_test::kOffsetWidth) > 0 && pixels > 0;
    if (EditsPixels(call.function) && has_rows && pixels > kLargestEditedPicture / 3 && pixels <= INT32_MAX / 3) {
        call.function = TINTWELL_FUNCTION_EXIT;
    }
    return call;
}

std::string Describe(const WholeCall& call, const std::string& problem) {
    static const char* const kOutputs[] = {"a new file", "/dev/null", "the input's name", "no name"};
    return "function " + std::to_string(call.function) + ", amount " + std::to_string(call.amount) + ", output to " +
           kOutputs[static_cast<int>(call.output)] + ", " + std::to_string(call.file.size()) + " file bytes: " +
           problem;
}

// One directory for the life of the process; every check reuses its names.
const tintwell_test::TempDir& WorkDirectory() {
    static const tintwell_test::TempDir directory;
    return directory;
}

std::optional<std::u16string> OutputName(OutputKind kind, const std::string& input, const std::string& output) {
    switch (kind) {
    case OutputKind::kNewFile: return tintwell_test::Utf16(output);
    case OutputKind::kDevNull: return u"/dev/null";
    case OutputKind::kInPlace: return tintwell_test::Utf16(input);
    case OutputKind::kNoName: break;
    }
    return std::nullopt;
}

}  // namespace

std::string CheckWholeCall(const std::uint8_t* data, std::size_t size) {
    const WholeCall call = DecodeWholeCall(data, size);
    const std::string input = WorkDirectory().File("in.bmp");
    const std::string output = WorkDirectory().File("out.bmp");
    tintwell_test::WriteBytes(input, call.file);
    std::error_code ignored;
    fs::remove(output, ignored);

    const bool output_opens = call.output != OutputKind::kNoName;
    std::srand(1);
    const ModelOutcome expected =
        tintwell_test::ModelCall({call.file, output_opens, call.amount, call.function}, [] { return std::rand(); });
    std::srand(1);
    const CallOutcome outcome = tintwell_test::CallTintwell(tintwell_test::Utf16(input),
                                                            OutputName(call.output, input, output), call.amount,
                                                            call.function);
    if (outcome.result != expected.result) {
        return Describe(call, "result " + std::to_string(outcome.result) + ", expected " +
                                  std::to_string(expected.result));
    }
    if (outcome.stdout_bytes != expected.stdout_bytes) {
        return Describe(call, "stdout \"" + outcome.stdout_bytes + "\", expected \"" + expected.stdout_bytes + "\"");
    }
    if (call.output == OutputKind::kNewFile && ReadFile(output) != expected.output) {
        return Describe(call, "the written file differs from the model's");
    }
    if (call.output == OutputKind::kInPlace && ReadFile(input) != expected.output.value_or(call.file)) {
        return Describe(call, "the file edited in place differs from the model's");
    }
    return "";
}

namespace {

enum class NameRole { kInput, kOutput, kInPlace };

// What the name checks work with: a fixed input picture and a folder that
// receives the fuzzed names.
struct NameSetup {
    NameSetup() {
        tintwell_test::WriteBytes(input, picture);
        fs::create_directory(folder);
    }
    Bytes picture = tintwell_test::MakeBmp(2, 1, Bytes{10, 20, 30, 40, 50, 60});
    std::string input = WorkDirectory().File("fixed.bmp");
    std::string folder = WorkDirectory().File("names");
};

const NameSetup& Setup() {
    static const NameSetup setup;
    return setup;
}

// The reference conversion is the C library's iconv: it shares nothing with
// the library's own converter and rejects lone surrogates.
std::optional<std::string> ReferenceUtf8(const std::u16string& units) {
    static const iconv_t converter = ::iconv_open("UTF-8", "UTF-16LE");
    ::iconv(converter, nullptr, nullptr, nullptr, nullptr);
    std::string source;
    for (const char16_t unit : units) {
        source.push_back(static_cast<char>(unit & 0xFF));
        source.push_back(static_cast<char>(unit >> 8));
    }
    std::string converted(units.size() * 3, '\0');
    char* in = source.data();
    std::size_t in_left = source.size();
    char* out = converted.data();
    std::size_t out_left = converted.size();
    if (::iconv(converter, &in, &in_left, &out, &out_left) == static_cast<std::size_t>(-1)) return std::nullopt;
    converted.resize(converted.size() - out_left);
    return converted;
}

// Creates the file only if nothing of that name exists: "." and ".." (and
// the folder itself, for an empty name) are directories, never usable.
bool CreateNew(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wbx");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

std::size_t EmptyFolder(const std::string& folder) {
    std::size_t removed = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        fs::remove_all(entry.path());
        ++removed;
    }
    return removed;
}

// Names longer than this (in UTF-8, without the NUL) are refused.
constexpr std::size_t kLongestName = 199;

}  // namespace

std::string CheckFileName(const std::uint8_t* data, std::size_t size) {
    const NameSetup& setup = Setup();
    const auto role = static_cast<NameRole>(size > 0 ? data[0] % 3 : 0);
    std::u16string units;
    for (std::size_t i = 1; i + 1 < size && units.size() < kMaxNameUnits; i += 2) {
        char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0) break;
        units.push_back(unit == u'/' ? u'_' : unit);
    }
    const std::string prefix = setup.folder + "/";
    // Built in one piece so that the buffer ends right after the terminator,
    // where the address sanitizer catches any read beyond it.
    const std::u16string name = tintwell_test::Utf16(prefix) + units;
    std::optional<std::string> expected = ReferenceUtf8(units);
    if (expected) expected = prefix + *expected;
    if (expected && expected->size() > kLongestName) expected.reset();
    const bool usable = expected && CreateNew(*expected, setup.picture);

    CallOutcome outcome;
    ModelOutcome model;
    switch (role) {
    case NameRole::kInput:
        outcome = tintwell_test::CallTintwell(name, std::nullopt, 0, TINTWELL_FUNCTION_EXIT);
        model = tintwell_test::ModelCall(
            {usable ? std::optional<Bytes>(setup.picture) : std::nullopt, true, 0, TINTWELL_FUNCTION_EXIT});
        break;
    case NameRole::kOutput:
        outcome = tintwell_test::CallTintwell(tintwell_test::Utf16(setup.input), name, 0, TINTWELL_FUNCTION_INVERT);
        model = tintwell_test::ModelCall({setup.picture, usable, 0, TINTWELL_FUNCTION_INVERT});
        break;
    case NameRole::kInPlace:
        outcome = tintwell_test::CallTintwell(name, name, 0, TINTWELL_FUNCTION_INVERT);
        model = tintwell_test::ModelCall(
            {usable ? std::optional<Bytes>(setup.picture) : std::nullopt, true, 0, TINTWELL_FUNCTION_INVERT});
        break;
    }
    const std::string context = "role " + std::to_string(static_cast<int>(role)) + ", " +
                                std::to_string(units.size()) + " units, " +
                                (expected ? "name \"" + *expected + "\"" : std::string("no usable name")) + ": ";
    std::string failure;
    if (outcome.result != model.result) {
        failure = context + "result " + std::to_string(outcome.result) + ", expected " + std::to_string(model.result);
    } else if (outcome.stdout_bytes != model.stdout_bytes) {
        failure = context + "stdout \"" + outcome.stdout_bytes + "\", expected \"" + model.stdout_bytes + "\"";
    } else if (usable && ReadFile(*expected) != model.output.value_or(setup.picture)) {
        failure = context + "the named file does not hold what it must";
    }
    // Nothing may appear under any other name (a name cut short, say).
    if (EmptyFolder(setup.folder) != (usable ? 1u : 0u) && failure.empty()) {
        failure = context + "a file appeared under another name";
    }
    if (ReadFile(setup.input) != setup.picture && failure.empty()) {
        failure = context + "the fixed input was changed";
        tintwell_test::WriteBytes(setup.input, setup.picture);
    }
    return failure;
}

void AbortOnFailure(const std::string& failure) {
    if (failure.empty()) return;
    std::fprintf(stderr, "\nMISMATCH: %s\n", failure.c_str());
    std::abort();
}

}  // namespace tintwell_fuzz
