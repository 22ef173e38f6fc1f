#include "pixel_operations.h"

#include <bit>
#include <cstdint>
#include <cstdlib>

// The AVX2 gray path is built for x86-64, but not for Windows, where GCC
// cannot keep the stack aligned for 32-byte values.
#if defined(__x86_64__) && !defined(_WIN32)
#define KORVANE_GRAY_AVX2 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace korvane {

NoiseAmounts DrawNoise(std::int32_t amount) {
    // rand() is never negative, so each remainder lies in 0 .. |amount| - 1.
    const auto blue = static_cast<std::uint8_t>(std::rand() % amount);
    const auto green = static_cast<std::uint8_t>(std::rand() % amount);
    const auto red = static_cast<std::uint8_t>(std::rand() % amount);
    return {red, green, blue};
}

namespace {

// The byte-wise edits are the same rule on every byte, so these loops
// vectorise without caring where one pixel ends and the next begins.
template <typename Rule>
void ForEachByte(std::uint8_t* bytes, std::size_t size, Rule rule) {
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = rule(bytes[i]);
    }
}

void GrayPixels(std::uint8_t* pixels, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t* pixel = pixels + i * kBytesPerPixel;
        pixel[0] = pixel[1] = pixel[2] = GrayValue(pixel[0], pixel[1], pixel[2]);
    }
}

#if defined(KORVANE_GRAY_AVX2)

// Gray values by whole-number arithmetic, 32 pixels at a time with AVX2.
//
// For a pixel, N = 2989 red + 5870 green + 1140 blue is exactly 10000 times
// its gray sum with the decimal weights. The double sum of GrayValue lies
// within 1e-12 of N / 10000, so wherever N / 10000 is not a whole number (its
// fraction is then at least 0.0001) both truncate to the same whole number.
//
// The kernel multiplies N by a single-precision reciprocal set two steps
// below 1/10000, about 1.7e-7 of itself, and truncates. That bias is larger
// than the product's rounding error (6e-8 of it) and, at N < 2,550,001, keeps
// the product above any whole number N / 10000 exceeds (it does so by at
// least 0.0001). So the estimate is exact: the floor of N / 10000 where
// N / 10000 is not whole, 0 for black, and one less than N / 10000 where it
// is whole. Only those last pixels, where N is 10000 more than 10000 times
// the estimate, can differ from GrayValue (1,703 of the 16,777,216 colours);
// those pixels alone take GrayValue.
//
// The 32 pixels are two groups of 16, one per 128-bit lane, so every shuffle
// stays inside its lane. A lane is loaded in quarters of four pixels, 16 bytes
// at a time 12 bytes apart, so a step reads the 4 bytes after its 96 bytes
// but never writes them.
#define KORVANE_AVX2 __attribute__((target("avx2")))

constexpr int kLaneBytes = 16;
constexpr int kBothLanesBytes = 2 * kLaneBytes;
constexpr std::size_t kGroupPixels = kLaneBytes;
constexpr std::size_t kGroupBytes = kGroupPixels * kBytesPerPixel;
constexpr std::size_t kStepPixels = 2 * kGroupPixels;
constexpr std::size_t kStepBytes = kStepPixels * kBytesPerPixel;
constexpr std::size_t kQuarterPixels = 4;
constexpr std::size_t kQuarters = kGroupPixels / kQuarterPixels;
constexpr std::size_t kOverreadPixels = 2;  // 4 bytes past the step, in whole pixels

// Byte shuffles, the same in both lanes.
struct GrayShuffles {
    // blue_green: a quarter's pixels as 16-bit (blue, green) pairs.
    alignas(32) std::int8_t blue_green[kBothLanesBytes];
    // red: a quarter's pixels as 16-bit (red, 0) pairs.
    alignas(32) std::int8_t red[kBothLanesBytes];
    // spread[k]: the group's k-th 16 output bytes, each gray value 3 times.
    alignas(32) std::int8_t spread[kBytesPerPixel][kBothLanesBytes];
};

constexpr GrayShuffles MakeGrayShuffles() {
    GrayShuffles masks{};
    constexpr int kNone = -1;  // a negative index makes a zero byte
    constexpr int kChannels = kBytesPerPixel;
    for (int byte = 0; byte < kBothLanesBytes; ++byte) {
        const int pixel = (byte % kLaneBytes) / 4;
        const int word_byte = byte % 4;  // (blue, 0, green, 0) and (red, 0, 0, 0)
        const int source = pixel * kChannels;
        masks.blue_green[byte] = static_cast<std::int8_t>(word_byte == 0 ? source : word_byte == 2 ? source + 1 : kNone);
        masks.red[byte] = static_cast<std::int8_t>(word_byte == 0 ? source + 2 : kNone);
        for (int part = 0; part < kChannels; ++part) {
            masks.spread[part][byte] = static_cast<std::int8_t>((part * kLaneBytes + byte % kLaneBytes) / kChannels);
        }
    }
    return masks;
}

constexpr GrayShuffles kGrayShuffles = MakeGrayShuffles();

KORVANE_AVX2 __m256i LoadMask(const std::int8_t* mask) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(mask));
}

// Quarter k of both groups: pixels 4k .. 4k + 3 of each.
KORVANE_AVX2 __m256i LoadQuarter(const std::uint8_t* pixels, std::size_t quarter) {
    const std::uint8_t* first = pixels + quarter * kQuarterPixels * kBytesPerPixel;
    return _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(first + kGroupBytes),
                               reinterpret_cast<const __m128i*>(first));
}

// N of each of a quarter's pixels, as 32-bit values.
KORVANE_AVX2 __m256i WeightedSums(__m256i quarter) {
    const __m256i blue_green_weights = _mm256_set1_epi32((kGreenGrayWeight << 16) | kBlueGrayWeight);
    const __m256i red_weights = _mm256_set1_epi32(kRedGrayWeight);
    const __m256i blue_green = _mm256_shuffle_epi8(quarter, LoadMask(kGrayShuffles.blue_green));
    const __m256i red = _mm256_shuffle_epi8(quarter, LoadMask(kGrayShuffles.red));
    return _mm256_add_epi32(_mm256_madd_epi16(blue_green, blue_green_weights), _mm256_madd_epi16(red, red_weights));
}

// 1/10000 in single precision, two representable steps lower.
constexpr float kBiasedReciprocal =
    std::bit_cast<float>(std::bit_cast<std::uint32_t>(1.0f / kGrayScale) - 2);

// The estimate of N / 10000. N - 10000 q is between 0 and 10000, and is
// 10000 only where q may differ from GrayValue: `largest` keeps the largest.
KORVANE_AVX2 __m256i EstimateGray(__m256i sums, __m256i& largest) {
    const __m256 reciprocal = _mm256_set1_ps(kBiasedReciprocal);
    const __m256i scale = _mm256_set1_epi32(kGrayScale);  // q < 2^15: madd multiplies q by the scale
    const __m256i quotients = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(sums), reciprocal));
    largest = _mm256_max_epi32(largest, _mm256_sub_epi32(sums, _mm256_madd_epi16(quotients, scale)));
    return quotients;
}

// Six 16-byte parts in lane order (group 0's parts in the low lanes, group
// 1's in the high ones), stored as the step's 96 bytes.
KORVANE_AVX2 void StoreStep(std::uint8_t* pixels, __m256i part0, __m256i part1, __m256i part2) {
    auto* out = reinterpret_cast<__m256i*>(pixels);
    _mm256_storeu_si256(out, _mm256_permute2x128_si256(part0, part1, 0x20));
    _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(part2, part0, 0x30));
    _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(part1, part2, 0x31));
}

// Where 32-bit lane `lane` of quarter `quarter` comes from: lanes 0-3 are
// the first group's pixels, lanes 4-7 the second's.
constexpr std::size_t PixelOfLane(std::size_t quarter, int lane) {
    constexpr int kLanesPerGroup = static_cast<int>(kQuarterPixels);
    const std::size_t group = lane < kLanesPerGroup ? 0 : 1;
    return group * kGroupPixels + quarter * kQuarterPixels + static_cast<std::size_t>(lane % kLanesPerGroup);
}

// Replaces the estimates that may be wrong with GrayValue, before the step
// is written. The sums are taken again here, on this rare path, so that the
// step itself keeps only the quotients and one running maximum.
[[gnu::noinline, gnu::cold]] KORVANE_AVX2 void MendDoubtful(const std::uint8_t* pixels, __m256i* quotients) {
    const __m256i scale = _mm256_set1_epi32(kGrayScale);
    for (std::size_t quarter = 0; quarter < kQuarters; ++quarter) {
        const __m256i sums = WeightedSums(LoadQuarter(pixels, quarter));
        const __m256i remainders = _mm256_sub_epi32(sums, _mm256_madd_epi16(quotients[quarter], scale));
        const int doubtful = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(remainders, scale)));
        if (doubtful == 0) continue;
        alignas(32) std::int32_t grays[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(grays), quotients[quarter]);
        for (int lane = 0; lane < 8; ++lane) {
            if ((doubtful >> lane & 1) == 0) continue;
            const std::uint8_t* pixel = pixels + PixelOfLane(quarter, lane) * kBytesPerPixel;
            grays[lane] = GrayValue(pixel[0], pixel[1], pixel[2]);
        }
        quotients[quarter] = _mm256_load_si256(reinterpret_cast<const __m256i*>(grays));
    }
}

// Turns 32 pixels gray in place; reads the 4 bytes after them as well.
KORVANE_AVX2 void GrayStep(std::uint8_t* pixels) {
    __m256i largest = _mm256_setzero_si256();
    __m256i quotients[kQuarters];
    for (std::size_t quarter = 0; quarter < kQuarters; ++quarter) {
        quotients[quarter] = EstimateGray(WeightedSums(LoadQuarter(pixels, quarter)), largest);
    }
    const __m256i doubtful = _mm256_cmpeq_epi32(largest, _mm256_set1_epi32(kGrayScale));
    if (!_mm256_testz_si256(doubtful, doubtful)) [[unlikely]] MendDoubtful(pixels, quotients);
    // Byte i of each lane is pixel i of its group.
    const __m256i grays = _mm256_packus_epi16(_mm256_packs_epi32(quotients[0], quotients[1]),
                                              _mm256_packs_epi32(quotients[2], quotients[3]));
    StoreStep(pixels, _mm256_shuffle_epi8(grays, LoadMask(kGrayShuffles.spread[0])),
              _mm256_shuffle_epi8(grays, LoadMask(kGrayShuffles.spread[1])),
              _mm256_shuffle_epi8(grays, LoadMask(kGrayShuffles.spread[2])));
}

// Returns how many pixels it turned gray: whole steps only, each followed by
// at least the 4 bytes a step reads past its end.
KORVANE_AVX2 std::size_t GrayStepsAvx2(std::uint8_t* pixels, std::size_t count) {
    const std::size_t steps = count > kOverreadPixels ? (count - kOverreadPixels) / kStepPixels : 0;
    for (std::size_t step = 0; step < steps; ++step) {
        GrayStep(pixels + step * kStepBytes);
    }
    return steps * kStepPixels;
}

// AVX2 needs the processor's flag and the system's saving of the 256-bit
// registers. Asked once, when a gray edit first runs: the compiler's own
// check would examine every processor feature each time the library loads.
bool HasAvx2() {
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
    if ((ecx & bit_OSXSAVE) == 0 || (ecx & bit_AVX) == 0) return false;
    unsigned int enabled_low = 0, enabled_high = 0;
    __asm__("xgetbv" : "=a"(enabled_low), "=d"(enabled_high) : "c"(0));
    constexpr unsigned int kSseAndAvxState = 0x6;
    if ((enabled_low & kSseAndAvxState) != kSseAndAvxState) return false;
    return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) != 0 && (ebx & bit_AVX2) != 0;
}

std::size_t GrayStepsFast(std::uint8_t* pixels, std::size_t count) {
    static const bool has_avx2 = HasAvx2();
    return has_avx2 ? GrayStepsAvx2(pixels, count) : 0;
}

#undef KORVANE_AVX2

#else

std::size_t GrayStepsFast(std::uint8_t*, std::size_t) { return 0; }

#endif

// The fast path does what it can; GrayValue does the rest.
void GrayBuffer(std::uint8_t* pixels, std::size_t size) {
    const std::size_t count = size / kBytesPerPixel;
    const std::size_t done = GrayStepsFast(pixels, count);
    GrayPixels(pixels + done * kBytesPerPixel, count - done);
}

}  // namespace

void TransformBuffer(std::uint8_t* pixels, std::size_t size, OperationKind kind, std::int32_t amount) {
    const auto byte = static_cast<std::uint8_t>(amount);
    switch (kind) {
    case OperationKind::kCopy:
        break;
    case OperationKind::kAdd:
        ForEachByte(pixels, size, [byte](std::uint8_t s) { return AddChannel(s, byte); });
        break;
    case OperationKind::kSubtract:
        ForEachByte(pixels, size, [byte](std::uint8_t s) { return SubtractChannel(s, byte); });
        break;
    case OperationKind::kGray:
        GrayBuffer(pixels, size);
        break;
    case OperationKind::kInvert:
        ForEachByte(pixels, size, [](std::uint8_t s) { return InvertChannel(s); });
        break;
    case OperationKind::kThreshold:
        ForEachByte(pixels, size, [byte](std::uint8_t s) { return ThresholdChannel(s, byte); });
        break;
    case OperationKind::kNoise:
        AddNoiseToBuffer(pixels, size, amount);
        break;
    }
}

void AddNoiseToBuffer(std::uint8_t* pixels, std::size_t size, std::int32_t amount) {
    for (std::size_t i = 0; i + kBytesPerPixel <= size; i += kBytesPerPixel) {
        const NoiseAmounts noise = DrawNoise(amount);
        pixels[i] = AddChannel(pixels[i], noise.blue);
        pixels[i + 1] = AddChannel(pixels[i + 1], noise.green);
        pixels[i + 2] = AddChannel(pixels[i + 2], noise.red);
    }
}

}  // namespace korvane
