// Faults from the files and from the system, each tried through the real
// library and through the real host: every one gets the result and the
// messages it must get, writes what it must write, and leaves nothing open.
#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <csignal>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bitmap_builder.h"
#include "fault_injection.h"
#include "hardening_support.h"
#include "model.h"

namespace tintwell_test {
namespace {

namespace fs = std::filesystem;

// 5 x 3: 15 pixel bytes and 1 padding byte a row, 102 bytes in all.
Bytes SmallPicture() {
    std::mt19937 random(23);
    return MakeRandomBmp(5, 3, random);
}

// 1024 x 1024: its buffer is mapped rather than taken from the heap.
Bytes LargePicture() {
    std::mt19937 random(29);
    return MakeRandomBmp(1024, 1024, random);
}

// Ends inside biWidth: the fields from there on keep only the bytes present.
Bytes CutInsideTheHeader() {
    const Bytes picture = SmallPicture();
    return Bytes(picture.begin(), picture.begin() + 20);
}

// Ends inside the second row's pixels: the rest of the pixels are zero.
Bytes CutInsideARow() {
    const Bytes picture = SmallPicture();
    return Bytes(picture.begin(), picture.end() - static_cast<std::ptrdiff_t>(picture.size() - 54) / 2 + 2);
}

Bytes Sized(std::int32_t width, std::int32_t height) {
    Bytes picture = SmallPicture();
    PutLittleEndian(picture, kOffsetWidth, static_cast<std::uint32_t>(width));
    PutLittleEndian(picture, kOffsetHeight, static_cast<std::uint32_t>(height));
    return picture;
}

// What the call must print.
enum class Printed {
    kAsModel,             // what the model prints for a call that writes
    kSaveFailsAtEnd,      // the same, then one save failure message
    kLoadFails,           // load prompt, load failure
    kAllocationFails,     // load prompt, allocation failure
    kEveryAttemptFails,   // three save prompts, each followed by a failure
    kTwoAttemptsFail,     // two failed save attempts, then a good one
};

// What the output name must hold afterwards.
enum class Written {
    kAsModel,           // the model's bytes
    kNothing,           // no file at all
    kModelPrefix,       // a strict prefix of the model's bytes (a write failed)
    kInputUnchanged,    // the input's bytes (the output is the input)
    kNotChecked,        // a device or a directory
};

struct FaultCase {
    const char* what;
    Bytes (*picture)();
    const char* input;    // in the temporary directory, or an absolute path
    const char* output;
    const char* faults;   // rules for the fault injector; "" for none
    std::int32_t function;
    std::int32_t amount;
    std::int32_t result;
    Printed printed;
    Written written;
    friend void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.what; }
};

// The model's answer when every write succeeds; rand() starts from seed 1
// in the library's calls here and in a fresh host process alike.
ModelOutcome Model(const FaultCase& c, const Bytes& picture, bool output_opens = true) {
    std::srand(1);
    return ModelCall({picture, output_opens, c.amount, c.function}, [] { return std::rand(); });
}

std::string ExpectedStdout(const FaultCase& c, const Bytes& picture) {
    switch (c.printed) {
    case Printed::kAsModel: return Model(c, picture).stdout_bytes;
    case Printed::kSaveFailsAtEnd: return Model(c, picture).stdout_bytes + kSaveFailure;
    case Printed::kLoadFails: return std::string{kLoadPrompt} + kLoadFailure;
    case Printed::kAllocationFails: return std::string{kLoadPrompt} + kAllocationFailure;
    case Printed::kEveryAttemptFails: return Model(c, picture, false).stdout_bytes;
    case Printed::kTwoAttemptsFail: {
        std::string text = Model(c, picture).stdout_bytes;
        const std::string failed = std::string{kSavePrompt} + kSaveFailure;
        return text.insert(text.find(kSavePrompt), failed + failed);
    }
    }
    return "";
}

void ExpectWritten(const FaultCase& c, const Bytes& picture, const std::string& output) {
    const std::optional<Bytes> written = c.written == Written::kNotChecked ? std::nullopt : ReadBytes(output);
    const std::optional<Bytes> model = Model(c, picture).output;
    switch (c.written) {
    case Written::kAsModel: EXPECT_EQ(written, model) << "the output differs from the model's"; break;
    case Written::kNothing: EXPECT_FALSE(written) << "a file was written"; break;
    case Written::kInputUnchanged: EXPECT_EQ(written, picture) << "the input was changed"; break;
    case Written::kModelPrefix:
        ASSERT_TRUE(written && model);
        EXPECT_LT(written->size(), model->size());
        EXPECT_TRUE(std::equal(written->begin(), written->end(), model->begin())) << "not what the model begins with";
        break;
    case Written::kNotChecked: break;
    }
}

std::string InDirectory(const TempDir& dir, const char* name) { return name[0] == '/' ? name : dir.File(name); }

// Whether every rule's operation was selected at least once since the rules
// were set: a test whose fault never fired tests nothing.
bool FaultsFired(const std::string& rules) {
    for (std::size_t at = rules.find("op="); at != std::string::npos; at = rules.find("op=", at + 1)) {
        const std::size_t end = rules.find_first_of(",;", at);
        if (TintwellFaultsSelected(rules.substr(at + 3, end - at - 3).c_str()) <= 0) return false;
    }
    return true;
}

bool HeapCanBeCounted() {
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    return MappingsCanBeCounted() && tunables != nullptr &&
           std::string_view(tunables).find("glibc.malloc.tcache_count=0") != std::string_view::npos;
}

class Fault : public testing::TestWithParam<FaultCase> {};

TEST_P(Fault, ThroughTheLibrary) {
    const FaultCase& c = GetParam();
    TempDir dir;
    const Bytes picture = c.picture();
    WriteBytes(dir.File("in.bmp"), picture);
    const std::string input = InDirectory(dir, c.input);
    const std::string output = InDirectory(dir, c.output);
    const auto call = [&] {
        EXPECT_EQ(TintwellFaultsConfigure(c.faults), 0) << c.faults;
        std::srand(1);
        const CallOutcome outcome = CallTintwell(input, output, c.amount, c.function);
        EXPECT_TRUE(FaultsFired(c.faults)) << "the call made no call the rules select: " << c.faults;
        TintwellFaultsConfigure("");
        return outcome;
    };
    // A first call creates whatever the runtime sets up once; the second
    // must then give back every descriptor, heap block and mapping it takes.
    // (Under the sanitizers and valgrind, whose allocators keep their own
    // heap and mappings, their leak checkers count memory instead; the heap
    // is counted only where the build turned off glibc's per-thread cache,
    // whose blocks count as in use.) What the second call printed goes into
    // room reserved before counting.
    const auto start_again = [&] {
        WriteBytes(dir.File("in.bmp"), picture);
        std::error_code ignored;
        if (c.written != Written::kNotChecked && output != dir.File("in.bmp")) fs::remove(output, ignored);
    };
    call();
    start_again();
    std::string printed;
    printed.reserve(std::size_t{1} << 12);
    std::int32_t result = 0;
    const std::size_t descriptors = OpenDescriptorCount();
    const std::size_t mappings = MappingCount();
    const std::size_t heap = ::mallinfo2().uordblks;
    {
        const CallOutcome outcome = call();
        result = outcome.result;
        printed.assign(outcome.stdout_bytes);
    }
    const std::size_t heap_after = ::mallinfo2().uordblks;

    EXPECT_EQ(result, c.result);
    EXPECT_EQ(printed, ExpectedStdout(c, picture));
    ExpectWritten(c, picture, output);
    EXPECT_EQ(OpenDescriptorCount(), descriptors) << "a descriptor was left open";
    if (MappingsCanBeCounted()) {
        EXPECT_EQ(MappingCount(), mappings) << "a mapping was not released";
    }
    if (HeapCanBeCounted()) {
        EXPECT_EQ(heap_after, heap) << "a heap block was not released";
    }
}

TEST_P(Fault, ThroughTheHost) {
    const FaultCase& c = GetParam();
    TempDir dir;
    const Bytes picture = c.picture();
    WriteBytes(dir.File("in.bmp"), picture);
    std::vector<std::pair<std::string, std::string>> environment;
    if (c.faults[0] != '\0') {
        const char* sanitizer_options = std::getenv("ASAN_OPTIONS");
        environment = {{"LD_PRELOAD", TINTWELL_FAULT_INJECTION_LIBRARY},
                       {"TINTWELL_FAULTS", c.faults},
                       // The injector comes before the sanitizer's runtime.
                       {"ASAN_OPTIONS", std::string(sanitizer_options ? sanitizer_options : "") +
                                            ":verify_asan_link_order=0"}};
    }
    const ScopedEnvironment scoped(environment);
    const ProcessOutcome outcome =
        RunHost(RawArguments(c.function, c.amount, c.input, c.output), dir.path().string());

    EXPECT_EQ(outcome.exit_status, HostExitStatus(c.result)) << outcome.stderr_bytes;
    EXPECT_EQ(outcome.stdout_bytes, ExpectedStdout(c, picture));
    if (HostExitStatus(c.result) != 0) {
        // "tintwell: FILE: result N: ...", naming the file the code is about.
        EXPECT_TRUE(outcome.stderr_bytes.starts_with("tintwell: ") &&
                    outcome.stderr_bytes.find(": result " + std::to_string(c.result) + ": ") != std::string::npos)
            << outcome.stderr_bytes;
    }
    ExpectWritten(c, picture, InDirectory(dir, c.output));
    // Whatever happened, the host's temporary copy is gone.
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".tintwell-"), std::string::npos)
            << "left behind: " << entry.path().filename();
    }
}

// An edit that fails after the host made its temporary copy (the library's
// writes, through the copy's descriptor, find the disk full) leaves the
// output as it was and no copy.
TEST(HostTemporary, GoneAfterAFailedEdit) {
    TempDir dir;
    const Bytes picture = SmallPicture();
    WriteBytes(dir.File("in.bmp"), picture);
    WriteBytes(dir.File("out.bmp"), picture);
    const char* sanitizer_options = std::getenv("ASAN_OPTIONS");
    const ScopedEnvironment scoped({{"LD_PRELOAD", TINTWELL_FAULT_INJECTION_LIBRARY},
                                    {"TINTWELL_FAULTS", "op=write,path=/proc/self/fd/,fail=ENOSPC"},
                                    {"ASAN_OPTIONS", std::string(sanitizer_options ? sanitizer_options : "") +
                                                         ":verify_asan_link_order=0"}});
    const ProcessOutcome outcome = RunHost({"invert", "in.bmp", "out.bmp"}, dir.path().string());
    EXPECT_NE(outcome.exit_status, 0) << outcome.stdout_bytes;
    EXPECT_EQ(ReadBytes(dir.File("out.bmp")), picture);
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".tintwell-"), std::string::npos)
            << "left behind: " << entry.path().filename();
    }
}

// Faults of the files themselves and of where they are.
INSTANTIATE_TEST_SUITE_P(
    Files, Fault,
    testing::Values(
        FaultCase{"output is /dev/full", SmallPicture, "in.bmp", "/dev/full", "", 8, 300, 124,
                  Printed::kSaveFailsAtEnd, Written::kNotChecked},
        FaultCase{"output is /dev/full, large picture, noise", LargePicture, "in.bmp", "/dev/full", "", 7, 50, 124,
                  Printed::kSaveFailsAtEnd, Written::kNotChecked},
        FaultCase{"output is /dev/null, large picture", LargePicture, "in.bmp", "/dev/null", "", 5, 0, 999,
                  Printed::kAsModel, Written::kNotChecked},
        FaultCase{"output is a directory", SmallPicture, "in.bmp", ".", "", 1, 0, 124, Printed::kEveryAttemptFails,
                  Written::kNotChecked},
        FaultCase{"output in a missing directory", SmallPicture, "in.bmp", "no/such/out.bmp", "", 2, 9, 124,
                  Printed::kEveryAttemptFails, Written::kNothing},
        FaultCase{"input is a directory", SmallPicture, ".", "out.bmp", "", 1, 0, 123, Printed::kLoadFails,
                  Written::kNothing},
        FaultCase{"input opens but cannot be read", SmallPicture, "/proc/self/mem", "out.bmp", "", 1, 0, 123,
                  Printed::kLoadFails, Written::kNothing},
        FaultCase{"input missing", SmallPicture, "missing.bmp", "out.bmp", "", 10, 0, 123, Printed::kLoadFails,
                  Written::kNothing},
        FaultCase{"empty file", [] { return Bytes{}; }, "in.bmp", "out.bmp", "", 5, 0, 999, Printed::kAsModel,
                  Written::kAsModel},
        FaultCase{"1-byte file", [] { return Bytes{'B'}; }, "in.bmp", "out.bmp", "", 5, 0, 999, Printed::kAsModel,
                  Written::kAsModel},
        FaultCase{"header cut inside biWidth", CutInsideTheHeader,
                  "in.bmp", "out.bmp", "", 2, 1, 999, Printed::kAsModel, Written::kAsModel},
        FaultCase{"pixels cut inside a row", CutInsideARow, "in.bmp", "out.bmp", "", 9, 3, 999, Printed::kAsModel,
                  Written::kAsModel},
        FaultCase{"output is the input", SmallPicture, "in.bmp", "in.bmp", "", 5, 0, 999, Printed::kAsModel,
                  Written::kAsModel},
        FaultCase{"output is the input, read only", SmallPicture, "in.bmp", "in.bmp", "", 10, 0, 0, Printed::kAsModel,
                  Written::kInputUnchanged},
        FaultCase{"output is the input, rejected", SmallPicture, "in.bmp", "in.bmp", "", 0, 0, 432,
                  Printed::kAsModel, Written::kInputUnchanged},
        FaultCase{"pixel bytes just over 2^31 - 1", [] { return Sized(1, 715827883); }, "in.bmp", "out.bmp", "", 1,
                  0, -1, Printed::kAllocationFails, Written::kNothing},
        FaultCase{"pixel count over 2^32", [] { return Sized(65536, 65537); }, "in.bmp", "out.bmp", "", 1, 0, -1,
                  Printed::kAllocationFails, Written::kNothing},
        FaultCase{"largest dimensions", [] { return Sized(INT_MAX, INT_MAX); }, "in.bmp", "out.bmp", "", 1, 0, -1,
                  Printed::kAllocationFails, Written::kNothing},
        FaultCase{"negative width", [] { return Sized(-3, 2); }, "in.bmp", "out.bmp", "", 1, 0, -1,
                  Printed::kAllocationFails, Written::kNothing},
        FaultCase{"negative height (top-down)", [] { return Sized(5, -3); }, "in.bmp", "out.bmp", "", 1, 0, -1,
                  Printed::kAllocationFails, Written::kNothing},
        FaultCase{"both negative", [] { return Sized(-5, -3); }, "in.bmp", "out.bmp", "", 5, 0, 999,
                  Printed::kAsModel, Written::kAsModel},
        FaultCase{"both most negative", [] { return Sized(INT_MIN, INT_MIN); }, "in.bmp", "out.bmp", "", 5, 0, -1,
                  Printed::kAllocationFails, Written::kNothing},
        FaultCase{"pixel count wraps 32 bits", [] { return Sized(65536, 65536); }, "in.bmp", "out.bmp", "", 1, 0, -1,
                  Printed::kAllocationFails, Written::kNothing},
        FaultCase{"height 0: the header alone", [] { return Sized(5, 0); }, "in.bmp", "out.bmp", "", 1, 0, 999,
                  Printed::kAsModel, Written::kAsModel},
        FaultCase{"width 0: the header alone", [] { return Sized(0, 5); }, "in.bmp", "out.bmp", "", 2, 9, 999,
                  Printed::kAsModel, Written::kAsModel},
        FaultCase{"largest pixel count, exit after reading", [] { return Sized(1, 715827882); }, "in.bmp", "out.bmp",
                  "", 10, 0, 0, Printed::kAsModel, Written::kNothing}));

// Faults of the system calls, made by the fault injector.
INSTANTIATE_TEST_SUITE_P(
    SystemCalls, Fault,
    testing::Values(
        FaultCase{"header read fails", SmallPicture, "in.bmp", "out.bmp", "op=read,path=in.bmp,fail=EIO", 1, 0, 123,
                  Printed::kLoadFails, Written::kNothing},
        FaultCase{"read fails right after the header", SmallPicture, "in.bmp", "out.bmp",
                  "op=read,path=in.bmp,after=54,fail=EIO", 1, 0, 123, Printed::kLoadFails, Written::kNothing},
        FaultCase{"read fails in the last row", SmallPicture, "in.bmp", "out.bmp",
                  "op=read,path=in.bmp,after=90,fail=EIO", 1, 0, 123, Printed::kLoadFails, Written::kNothing},
        FaultCase{"read fails into a mapped buffer", LargePicture, "in.bmp", "out.bmp",
                  "op=read,path=in.bmp,after=100000,fail=EIO", 4, 0, 123, Printed::kLoadFails, Written::kNothing},
        FaultCase{"reads deliver one byte at a time", SmallPicture, "in.bmp", "out.bmp",
                  "op=read,path=in.bmp,limit=1", 2, 40, 999, Printed::kAsModel, Written::kAsModel},
        FaultCase{"reads interrupted", SmallPicture, "in.bmp", "out.bmp", "op=read,path=in.bmp,interrupt", 3, 40, 999,
                  Printed::kAsModel, Written::kAsModel},
        FaultCase{"input open interrupted", SmallPicture, "in.bmp", "out.bmp", "op=open,path=in.bmp,interrupt", 4, 0,
                  999, Printed::kAsModel, Written::kAsModel},
        FaultCase{"input close fails", SmallPicture, "in.bmp", "out.bmp", "op=close,path=in.bmp,fail=EIO", 4, 0, 999,
                  Printed::kAsModel, Written::kAsModel},
        FaultCase{"output open interrupted", SmallPicture, "in.bmp", "out.bmp", "op=open,path=out.bmp,interrupt", 5,
                  0, 999, Printed::kAsModel, Written::kAsModel},
        FaultCase{"output refused twice, then opens", SmallPicture, "in.bmp", "out.bmp",
                  "op=open,path=out.bmp,nth=1,fail=EACCES;op=open,path=out.bmp,nth=2,fail=EACCES", 6, 128, 999,
                  Printed::kTwoAttemptsFail, Written::kAsModel},
        FaultCase{"output refused every time", SmallPicture, "in.bmp", "out.bmp",
                  "op=open,path=out.bmp,fail=EACCES", 6, 128, 124, Printed::kEveryAttemptFails, Written::kNothing},
        FaultCase{"disk full at the header", SmallPicture, "in.bmp", "out.bmp", "op=write,path=out.bmp,fail=ENOSPC",
                  9, 40, 124, Printed::kSaveFailsAtEnd, Written::kModelPrefix},
        FaultCase{"disk full after the header", SmallPicture, "in.bmp", "out.bmp",
                  "op=write,path=out.bmp,after=54,fail=ENOSPC", 8, 40, 124, Printed::kSaveFailsAtEnd,
                  Written::kModelPrefix},
        FaultCase{"disk full in a large picture with noise", LargePicture, "in.bmp", "out.bmp",
                  "op=write,path=out.bmp,after=1000000,fail=ENOSPC", 7, 50, 124, Printed::kSaveFailsAtEnd,
                  Written::kModelPrefix},
        FaultCase{"writes take one byte at a time", SmallPicture, "in.bmp", "out.bmp",
                  "op=write,path=out.bmp,limit=1", 8, 300, 999, Printed::kAsModel, Written::kAsModel},
        FaultCase{"writes interrupted", SmallPicture, "in.bmp", "out.bmp", "op=write,path=out.bmp,interrupt", 1, 0,
                  999, Printed::kAsModel, Written::kAsModel},
        FaultCase{"write makes no progress", SmallPicture, "in.bmp", "out.bmp", "op=write,path=out.bmp,stall", 2, 40,
                  124, Printed::kSaveFailsAtEnd, Written::kModelPrefix},
        FaultCase{"output close fails", SmallPicture, "in.bmp", "out.bmp", "op=close,path=out.bmp,fail=EIO", 3, 40,
                  124, Printed::kSaveFailsAtEnd, Written::kAsModel},
        FaultCase{"pixel buffer cannot be mapped", LargePicture, "in.bmp", "out.bmp", "op=mmap,fail=ENOMEM", 5, 0, -1,
                  Printed::kAllocationFails, Written::kNothing}));

// Faults of the second pass over a regular file, which reads each slice again
// at its offset, and of the final length change. A second pass that cannot
// read what the first found is a save failure: the input changed under the
// call. The noise edit still draws to the end (the model's prompts and bytes
// before the failure match only if it does).
INSTANTIATE_TEST_SUITE_P(
    SecondPass, Fault,
    testing::Values(
        FaultCase{"second pass fails", SmallPicture, "in.bmp", "out.bmp", "op=pread,path=in.bmp,fail=EIO", 5, 0,
                  124, Printed::kSaveFailsAtEnd, Written::kModelPrefix},
        FaultCase{"second pass finds the file ended", SmallPicture, "in.bmp", "out.bmp", "op=pread,path=in.bmp,stall",
                  2, 9, 124, Printed::kSaveFailsAtEnd, Written::kModelPrefix},
        FaultCase{"second pass fails in a later slice, noise", LargePicture, "in.bmp", "out.bmp",
                  "op=pread,path=in.bmp,after=1500000,fail=EIO", 7, 50, 124, Printed::kSaveFailsAtEnd,
                  Written::kModelPrefix},
        FaultCase{"second pass reads one byte at a time", SmallPicture, "in.bmp", "out.bmp",
                  "op=pread,path=in.bmp,limit=1", 6, 99, 999, Printed::kAsModel, Written::kAsModel},
        FaultCase{"second pass interrupted", LargePicture, "in.bmp", "out.bmp", "op=pread,path=in.bmp,interrupt", 4,
                  0, 999, Printed::kAsModel, Written::kAsModel},
        FaultCase{"second pass fails on the input itself", SmallPicture, "in.bmp", "in.bmp",
                  "op=pread,path=in.bmp,fail=EIO", 5, 0, 124, Printed::kSaveFailsAtEnd, Written::kInputUnchanged},
        FaultCase{"length change refused", SmallPicture, "in.bmp", "out.bmp", "op=truncate,path=out.bmp,fail=EIO", 3,
                  7, 124, Printed::kSaveFailsAtEnd, Written::kAsModel},
        FaultCase{"length change interrupted", SmallPicture, "in.bmp", "out.bmp",
                  "op=truncate,path=out.bmp,interrupt", 3, 7, 999, Printed::kAsModel, Written::kAsModel}));

// A size refused for its count allocates nothing at all; the same count one
// byte smaller maps its buffer (and the injector sees it do so).
TEST(AllocationRefused, NothingIsAllocated) {
    TempDir dir;
    for (const auto& [height, mappings] : {std::pair{715827883, 0}, std::pair{715827882, 1}}) {
        WriteBytes(dir.File("in.bmp"), Sized(1, height));
        ASSERT_EQ(TintwellFaultsConfigure("op=mmap"), 0);
        const std::int32_t result = CallTintwell(dir.File("in.bmp"), dir.File("out.bmp"), 0, 10).result;
        EXPECT_EQ(TintwellFaultsSelected("mmap"), mappings) << height;
        TintwellFaultsConfigure("");
        EXPECT_EQ(result, mappings == 0 ? TINTWELL_RESULT_ALLOCATION_FAILED : TINTWELL_RESULT_EXITED) << height;
    }
}

// A directory the caller may not write to. Root writes anywhere, so the
// call runs in a child process that has dropped to the unprivileged user.
TEST(Privileges, OutputInADirectoryWithoutWritePermission) {
    if (::geteuid() == 0 && !CanDropPrivileges()) TINTWELL_SKIP_UNLESS_REQUIRED("no unprivileged user to drop to");
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const Bytes picture = SmallPicture();
    WriteBytes(dir.File("in.bmp"), picture);
    ASSERT_EQ(::mkdir(dir.File("locked").c_str(), 0555), 0);
    // The unprivileged user runs copies of the host and library from here.
    const std::string host = dir.File("tintwell");
    const std::string library = dir.File("libKorvaneTintwell.so.1");
    fs::copy_file(HostPath(), host);
    fs::copy_file(LibraryPath(), library);
    ChildLimits as_nobody;
    as_nobody.as_nobody = true;
    const std::string expected = ModelCall({picture, false, 0, 1}).stdout_bytes;

    const CallOutcome call = CallTintwellInChild(as_nobody, dir.File("in.bmp"), dir.File("locked/out.bmp"), 0, 1);
    EXPECT_EQ(call.result, TINTWELL_RESULT_SAVE_FAILED);
    EXPECT_EQ(call.stdout_bytes, expected);

    std::vector<std::string> argv = {host, "--module", library};
    for (const std::string& word : RawArguments(1, 0, "in.bmp", "locked/out.bmp")) argv.push_back(word);
    const ProcessOutcome run = RunProgramInChild(as_nobody, argv, dir.path().string());
    EXPECT_EQ(run.exit_status, 2) << run.stderr_bytes;
    EXPECT_EQ(run.stdout_bytes, expected);
    // Coverage builds may add lines about their data files, which the
    // unprivileged user cannot update.
    EXPECT_NE(run.stderr_bytes.find("tintwell: locked/out.bmp: result 124: "), std::string::npos) << run.stderr_bytes;
    EXPECT_TRUE(fs::is_empty(dir.File("locked")));
}

// A real allocation failure: the process may not map the 2 GiB the header
// asks for. Only a picture held whole needs that memory: one that comes
// through a pipe. The same picture in a regular file streams through its
// window and reads within the same limit.
TEST(Limits, PixelBufferBeyondTheAddressSpace) {
    if (kSanitized) GTEST_SKIP() << "the sanitizers need more address space than the limit allows";
    if (Emulated()) GTEST_SKIP() << "qemu-user does not apply an address-space limit to the program it runs";
    TempDir dir;
    const Bytes picture = Sized(1, 715827882);
    ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
    // The header waits in the pipe for each child, which reads it and no
    // more. This end, held open, keeps the pipe from blocking or ending;
    // no thread feeds it, as a forked child would see a thread's memory as
    // lost.
    const int pipe_end = ::open(dir.File("pipe").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(pipe_end, 0);
    const auto put_header = [&] { return ::write(pipe_end, picture.data(), 54) == 54; };
    ChildLimits limited;
    limited.address_space = rlim_t{1} << 30;
    const std::string expected = std::string{kLoadPrompt} + kAllocationFailure;

    ASSERT_TRUE(put_header());
    const CallOutcome call = CallTintwellInChild(limited, dir.File("pipe"), dir.File("out.bmp"), 0, 1);
    EXPECT_EQ(call.result, TINTWELL_RESULT_ALLOCATION_FAILED);
    EXPECT_EQ(call.stdout_bytes, expected);

    std::vector<std::string> argv = {HostPath()};
    for (const std::string& word : RawArguments(1, 0, "pipe", "out.bmp")) argv.push_back(word);
    ASSERT_TRUE(put_header());
    const ProcessOutcome run = RunProgramInChild(limited, argv, dir.path().string());
    ::close(pipe_end);
    EXPECT_EQ(run.exit_status, 2) << run.stderr_bytes;
    EXPECT_EQ(run.stdout_bytes, expected);
    EXPECT_FALSE(ReadBytes(dir.File("out.bmp")));

    WriteBytes(dir.File("in.bmp"), picture);
    const CallOutcome streamed = CallTintwellInChild(limited, dir.File("in.bmp"), dir.File("out.bmp"), 0, 10);
    EXPECT_EQ(streamed.result, TINTWELL_RESULT_EXITED);
    EXPECT_EQ(streamed.stdout_bytes, ModelCall({picture, true, 0, 10}).stdout_bytes);
}

// An output that already exists is written over in place and cut to the
// picture's length only once everything is written: a failure before then
// leaves its old bytes past the point reached, and a read error in the first
// pass leaves it untouched.
struct ExistingOutputCase {
    const char* what;
    const char* faults;
    std::size_t old_size;  // the old output's length, filled with 0xEE
    std::int32_t result;
    std::size_t model_bytes;  // how many of the model's bytes the output begins with
    friend void PrintTo(const ExistingOutputCase& c, std::ostream* os) { *os << c.what; }
};

// The output is the model's bytes alone: written whole and cut to length.
constexpr std::size_t kAllOfTheModel = SIZE_MAX;

class ExistingOutput : public testing::TestWithParam<ExistingOutputCase> {};

TEST_P(ExistingOutput, KeepsWhatWasNotWritten) {
    const ExistingOutputCase& c = GetParam();
    TempDir dir;
    const Bytes picture = SmallPicture();
    WriteBytes(dir.File("in.bmp"), picture);
    const Bytes old(c.old_size, 0xEE);
    WriteBytes(dir.File("out.bmp"), old);
    const Bytes model = *ModelCall({picture, true, 40, 2}).output;

    ASSERT_EQ(TintwellFaultsConfigure(c.faults), 0) << c.faults;
    const CallOutcome outcome = CallTintwell(dir.File("in.bmp"), dir.File("out.bmp"), 40, 2);
    EXPECT_TRUE(FaultsFired(c.faults)) << c.faults;
    TintwellFaultsConfigure("");

    EXPECT_EQ(outcome.result, c.result);
    // The model's first bytes over the old ones; all of the model's alone.
    Bytes expected = model;
    if (c.model_bytes != kAllOfTheModel) {
        expected = old;
        std::copy_n(model.begin(), c.model_bytes, expected.begin());
    }
    EXPECT_EQ(ReadBytes(dir.File("out.bmp")), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExistingOutput,
    testing::Values(
        ExistingOutputCase{"longer, written and cut", "", 500, 999, kAllOfTheModel},
        ExistingOutputCase{"shorter, written", "", 10, 999, kAllOfTheModel},
        ExistingOutputCase{"first pass read error", "op=read,path=in.bmp,after=60,fail=EIO", 500, 123, 0},
        ExistingOutputCase{"disk full after the header", "op=write,path=out.bmp,after=54,fail=ENOSPC", 500, 124, 54},
        ExistingOutputCase{"second pass fails", "op=pread,path=in.bmp,fail=EIO", 500, 124, 54},
        ExistingOutputCase{"length change refused", "op=truncate,path=out.bmp,fail=EIO", 500, 124, 102}),
    [](const testing::TestParamInfo<ExistingOutputCase>& info) {
        std::string name = info.param.what;
        for (char& ch : name) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name;
    });

// A host may run with its stdout closed. The files the call opens must not
// take descriptor 1, or the messages printed while the output is open (here
// the tint-up echo, flushed at its newline) would be written into the picture.
TEST(StandardStreams, ClosedStdoutNeverReachesThePicture) {
    TempDir dir;
    const Bytes picture = SmallPicture();
    WriteBytes(dir.File("in.bmp"), picture);
    ChildLimits closed;
    closed.stdout_closed = true;
    const CallOutcome call = CallTintwellInChild(closed, dir.File("in.bmp"), dir.File("out.bmp"), 300, 8);
    EXPECT_EQ(call.result, TINTWELL_RESULT_WRITTEN);
    EXPECT_EQ(ReadBytes(dir.File("out.bmp")), ModelCall({picture, true, 300, 8}).output);
    EXPECT_EQ(ReadBytes(dir.File("in.bmp")), picture);
}

// A pipe fed slowly in small pieces gives the host the same picture as a file.
TEST(Pipes, SlowFifoThroughTheHost) {
    TempDir dir;
    std::mt19937 random(31);
    const Bytes picture = MakeRandomBmp(7, 30, random);
    ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
    std::thread writer([&] { FeedSlowly(dir.File("pipe"), picture, 5); });
    const ProcessOutcome run = RunHost(RawArguments(3, 17, "pipe", "out.bmp"), dir.path().string());
    writer.join();
    const ModelOutcome expected = ModelCall({picture, true, 17, 3});
    EXPECT_EQ(run.exit_status, 0) << run.stderr_bytes;
    EXPECT_EQ(run.stdout_bytes, expected.stdout_bytes);
    EXPECT_EQ(ReadBytes(dir.File("out.bmp")), expected.output);
}

// The reader of an output pipe goes away after one byte: the writes fail
// (EPIPE), which is a save failure. SIGPIPE, which would end the process
// first, is the host's to handle; this test ignores it as many hosts do.
TEST(Pipes, OutputReaderGoesAway) {
    TempDir dir;
    const Bytes picture = LargePicture();
    WriteBytes(dir.File("in.bmp"), picture);
    ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
    std::thread reader([&] {
        const int descriptor = ::open(dir.File("pipe").c_str(), O_RDONLY);
        char byte;
        EXPECT_EQ(::read(descriptor, &byte, 1), 1);
        ::close(descriptor);
    });
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    const CallOutcome outcome = CallTintwell(dir.File("in.bmp"), dir.File("pipe"), 0, 4);
    std::signal(SIGPIPE, previous);
    reader.join();
    EXPECT_EQ(outcome.result, TINTWELL_RESULT_SAVE_FAILED);
    EXPECT_EQ(outcome.stdout_bytes, ModelCall({picture, true, 0, 4}).stdout_bytes + kSaveFailure);
}

}  // namespace
}  // namespace tintwell_test
