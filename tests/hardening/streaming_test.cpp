// A regular file is read twice through a small window; anything else is
// held whole. Both must give the model's bytes for every input and every
// output, including the input itself under another name, and a picture from
// a regular file must not need memory in proportion to its size.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bitmap_builder.h"
#include "hardening_support.h"
#include "model.h"

namespace tintwell_test {
namespace {

namespace fs = std::filesystem;

Bytes RandomPicture(std::int32_t width, std::int32_t height) {
    std::mt19937 random(static_cast<unsigned>(width * 7 + height));
    return MakeRandomBmp(width, height, random);
}

Bytes Cut(Bytes bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

Bytes WithTrailingBytes() {
    Bytes picture = RandomPicture(5, 3);
    picture.insert(picture.end(), 37, 0x5C);
    return picture;
}

// 5 x 3 rows have one padding byte each; here it is not zero.
Bytes WithNonZeroPadding() {
    Bytes picture = RandomPicture(5, 3);
    for (std::size_t row = 0; row < 3; ++row) picture[54 + row * 16 + 15] = 0xAB;
    return picture;
}

Bytes BothDimensionsNegative() {
    Bytes picture = RandomPicture(5, 3);
    PutLittleEndian(picture, kOffsetWidth, static_cast<std::uint32_t>(-5));
    PutLittleEndian(picture, kOffsetHeight, static_cast<std::uint32_t>(-3));
    return picture;
}

struct Picture {
    const char* name;
    Bytes (*make)();
    std::int32_t function;
    std::int32_t amount;
};

const Picture kPictures[] = {
    {"padded, many slices", [] { return RandomPicture(1001, 700); }, TINTWELL_FUNCTION_INVERT, 0},
    {"noise over many slices", [] { return RandomPicture(1024, 1024); }, TINTWELL_FUNCTION_NOISE, 50},
    {"short file", [] { return Cut(RandomPicture(5, 3), 80); }, TINTWELL_FUNCTION_BRIGHTEN, 40},
    {"long picture cut inside a slice", [] { return Cut(RandomPicture(1001, 700), 1500001); },
     TINTWELL_FUNCTION_GRAY, 0},
    {"shorter than the header", [] { return Cut(RandomPicture(5, 3), 20); }, TINTWELL_FUNCTION_INVERT, 0},
    {"trailing bytes", WithTrailingBytes, TINTWELL_FUNCTION_GRAY, 0},
    {"non-zero padding", WithNonZeroPadding, TINTWELL_FUNCTION_THRESHOLD, 128},
    // 1,200,003 bytes a row, one padding byte: each row is two slices.
    {"rows longer than the window", [] { return RandomPicture(400001, 2); }, TINTWELL_FUNCTION_NOISE, 9},
    {"both dimensions negative", BothDimensionsNegative, TINTWELL_FUNCTION_INVERT, 0},
};

// How the output names a file: a new one, or the input under some name.
enum class Target { kFreshFile, kSameName, kHardLink, kSymbolicLink, kDescriptorPath };

struct TargetCase {
    const char* name;
    Target target;
};

const TargetCase kTargets[] = {
    {"fresh file", Target::kFreshFile},
    {"the input, same name", Target::kSameName},
    {"the input, hard link", Target::kHardLink},
    {"the input, symbolic link", Target::kSymbolicLink},
    {"the input, /proc/self/fd", Target::kDescriptorPath},
};

// The output's name for the target; `keep_open` holds the descriptor that a
// /proc/self/fd name refers to.
std::string OutputName(const TempDir& dir, Target target, int& keep_open) {
    const std::string input = dir.File("in.bmp");
    switch (target) {
    case Target::kFreshFile: return dir.File("out.bmp");
    case Target::kSameName: return input;
    case Target::kHardLink: fs::create_hard_link(input, dir.File("link.bmp")); return dir.File("link.bmp");
    case Target::kSymbolicLink: fs::create_symlink(input, dir.File("symlink.bmp")); return dir.File("symlink.bmp");
    case Target::kDescriptorPath:
        keep_open = ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
        return "/proc/self/fd/" + std::to_string(keep_open);
    }
    return "";
}

ModelOutcome Model(const Bytes& picture, std::int32_t function, std::int32_t amount) {
    std::srand(1);
    return ModelCall({picture, true, amount, function}, [] { return std::rand(); });
}

// Every picture onto every target: the same result, messages and bytes as
// the model's.
TEST(SameEdit, IntoAFreshFileAndOntoTheInputItself) {
    for (const Picture& picture : kPictures) {
        const Bytes bytes = picture.make();
        const ModelOutcome expected = Model(bytes, picture.function, picture.amount);
        for (const TargetCase& target : kTargets) {
            SCOPED_TRACE(std::string(picture.name) + " into " + target.name);
            TempDir dir;
            WriteBytes(dir.File("in.bmp"), bytes);
            int keep_open = -1;
            const std::string output = OutputName(dir, target.target, keep_open);
            std::srand(1);
            const CallOutcome outcome = CallTintwell(dir.File("in.bmp"), output, picture.amount, picture.function);
            if (keep_open >= 0) ::close(keep_open);
            EXPECT_EQ(outcome.result, expected.result);
            EXPECT_EQ(outcome.stdout_bytes, expected.stdout_bytes);
            const std::string written = target.target == Target::kFreshFile ? output : dir.File("in.bmp");
            EXPECT_TRUE(ReadBytes(written) == expected.output) << "the output differs from the model's";
        }
    }
}

// A pipe is written in order and never given a length (devices are rows of
// the fault table).
TEST(Outputs, PipeCarriesTheModelsBytes) {
    const Bytes picture = RandomPicture(1024, 1024);
    const ModelOutcome expected = Model(picture, TINTWELL_FUNCTION_INVERT, 0);
    TempDir dir;
    WriteBytes(dir.File("in.bmp"), picture);

    ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
    std::optional<Bytes> received;
    std::thread reader([&] { received = ReadBytes(dir.File("pipe")); });
    const CallOutcome to_pipe = CallTintwell(dir.File("in.bmp"), dir.File("pipe"), 0, TINTWELL_FUNCTION_INVERT);
    reader.join();
    EXPECT_EQ(to_pipe.result, TINTWELL_RESULT_WRITTEN);
    EXPECT_EQ(to_pipe.stdout_bytes, expected.stdout_bytes);
    EXPECT_TRUE(received == expected.output) << "the pipe did not carry the model's bytes";
}

// Inputs that cannot be read twice are held whole and give the same bytes,
// however the pipe's writer hands them over.
TEST(Inputs, PipeHeldWhole) {
    struct Feed {
        const char* name;
        Bytes picture;
        std::size_t chunk;  // bytes per write, 200 us apart
        std::int32_t function;
        std::int32_t amount;
    };
    const Feed feeds[] = {
        {"a few bytes at a time", RandomPicture(5, 40), 7, TINTWELL_FUNCTION_BRIGHTEN, 5},
        {"many slices", RandomPicture(1001, 700), std::size_t{1} << 16, TINTWELL_FUNCTION_DARKEN, 30},
    };
    for (const Feed& feed : feeds) {
        SCOPED_TRACE(feed.name);
        const ModelOutcome expected = Model(feed.picture, feed.function, feed.amount);
        TempDir dir;
        ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
        std::thread writer([&] { FeedSlowly(dir.File("pipe"), feed.picture, feed.chunk); });
        const CallOutcome outcome = CallTintwell(dir.File("pipe"), dir.File("out.bmp"), feed.amount, feed.function);
        writer.join();
        EXPECT_EQ(outcome.result, expected.result);
        EXPECT_EQ(outcome.stdout_bytes, expected.stdout_bytes);
        EXPECT_TRUE(ReadBytes(dir.File("out.bmp")) == expected.output);
    }
}

// A file in /proc reports size 0 and is made anew on each read: it is read
// once. This thread's name is a few bytes, so the picture is a short header.
TEST(Inputs, ProcFileHeldWhole) {
    const std::string comm = "/proc/thread-self/comm";
    const std::optional<Bytes> bytes = ReadBytes(comm);
    ASSERT_TRUE(bytes && !bytes->empty());
    const ModelOutcome expected = Model(*bytes, TINTWELL_FUNCTION_COPY, 0);
    TempDir dir;
    const CallOutcome outcome = CallTintwell(comm, dir.File("out.bmp"), 0, TINTWELL_FUNCTION_COPY);
    EXPECT_EQ(outcome.result, expected.result);
    EXPECT_EQ(outcome.stdout_bytes, expected.stdout_bytes);
    EXPECT_TRUE(ReadBytes(dir.File("out.bmp")) == expected.output);
}

// The peak memory of a whole 10000 x 7500 edit through the host, in a process
// of its own (a forked child would inherit this process's peak).
TEST(Memory, LargePictureStreamsInAFewMebibytes) {
    if (kSanitized) GTEST_SKIP() << "the sanitizers keep memory of their own";
    if (Emulated()) GTEST_SKIP() << "under qemu-user the peak memory would be the emulator's";
    if (!fs::exists("/usr/bin/time")) {
        TINTWELL_SKIP_UNLESS_REQUIRED("/usr/bin/time is not installed (Debian package time)");
    }
    TempDir dir;
    constexpr std::uint32_t kPixelBytes = 10000 * 3 * 7500;
    Bytes header = MakeBmp(1, 1, Bytes{1, 2, 3});
    header.resize(54);
    PutLittleEndian(header, kOffsetFileSize, 54 + kPixelBytes);
    PutLittleEndian(header, kOffsetWidth, 10000);
    PutLittleEndian(header, kOffsetHeight, 7500);
    PutLittleEndian(header, 34, kPixelBytes);  // biSizeImage
    WriteBytes(dir.File("in.bmp"), header);
    fs::resize_file(dir.File("in.bmp"), 54 + std::uintmax_t{kPixelBytes});
    const std::vector<std::string> words = {"/usr/bin/time", "-f", "%M", "-o", dir.File("rss"), HostPath(),
                                            "invert", dir.File("in.bmp"), dir.File("out.bmp")};
    const ProcessOutcome run = RunProgramInChild({}, words, dir.path().string());
    ASSERT_EQ(run.exit_status, 0) << run.stderr_bytes;
    const std::optional<Bytes> report = ReadBytes(dir.File("rss"));
    ASSERT_TRUE(report);
    const long kibibytes = std::atol(std::string(report->begin(), report->end()).c_str());
    EXPECT_GT(kibibytes, 0);
    EXPECT_LE(kibibytes, 8 * 1024) << "peak resident memory in KiB";
    EXPECT_EQ(fs::file_size(dir.File("out.bmp")), 54 + std::uintmax_t{kPixelBytes});
}

}  // namespace
}  // namespace tintwell_test
