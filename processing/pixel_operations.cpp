#include "pixel_operations.h"

#include <cstdlib>

// The AVX2 gray path is built for x86-64, but not for Windows, where GCC
// cannot keep the stack aligned for 32-byte values.
#if defined(__x86_64__) && !defined(_WIN32)
#define KORVANE_GRAY_AVX2 1
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
// The kernel estimates q = N / 10000 in single precision and keeps q only when
// 0 < N - 10000 q < 10000, which proves that q is the whole part of N / 10000
// and that N / 10000 is not whole; black (N = 0) is exact as well. A step with
// any other pixel (1,703 of the 16,777,216 colours) takes GrayValue throughout.
//
// The 32 pixels are two groups of 16, one per 128-bit lane, so every shuffle
// stays inside its lane. A lane is loaded in quarters of four pixels, 16 bytes
// at a time 12 bytes apart, so a step reads the 4 bytes after its 96 bytes
// but never writes them.
#define KORVANE_AVX2 __attribute__((target("avx2")))

constexpr int kLaneBytes = 16;
constexpr std::size_t kGroupPixels = kLaneBytes;
constexpr std::size_t kGroupBytes = kGroupPixels * kBytesPerPixel;
constexpr std::size_t kStepPixels = 2 * kGroupPixels;
constexpr std::size_t kQuarterPixels = 4;
constexpr std::size_t kQuarters = kGroupPixels / kQuarterPixels;
constexpr std::size_t kOverreadPixels = 2;  // 4 bytes past the step, in whole pixels

struct GrayShuffles {
    // blue_green: a quarter's pixels as 16-bit (blue, green) pairs.
    std::int8_t blue_green[kLaneBytes];
    // red: a quarter's pixels as 16-bit (red, 0) pairs.
    std::int8_t red[kLaneBytes];
    // spread[k]: the group's k-th 16 output bytes, each gray value 3 times.
    std::int8_t spread[kBytesPerPixel][kLaneBytes];
};

constexpr GrayShuffles MakeGrayShuffles() {
    GrayShuffles masks{};
    constexpr int kNone = -1;  // a negative index makes a zero byte
    constexpr int kChannels = kBytesPerPixel;
    for (int pixel = 0; pixel < static_cast<int>(kQuarterPixels); ++pixel) {
        const int source = pixel * kChannels;
        const int word = pixel * 4;
        const std::int8_t blue_green[4] = {static_cast<std::int8_t>(source), kNone,
                                           static_cast<std::int8_t>(source + 1), kNone};
        const std::int8_t red[4] = {static_cast<std::int8_t>(source + 2), kNone, kNone, kNone};
        for (int i = 0; i < 4; ++i) {
            masks.blue_green[word + i] = blue_green[i];
            masks.red[word + i] = red[i];
        }
    }
    for (int part = 0; part < kChannels; ++part) {
        for (int byte = 0; byte < kLaneBytes; ++byte) {
            masks.spread[part][byte] = static_cast<std::int8_t>((part * kLaneBytes + byte) / kChannels);
        }
    }
    return masks;
}

constexpr GrayShuffles kGrayShuffles = MakeGrayShuffles();

KORVANE_AVX2 __m256i BothLanes(const std::int8_t* mask) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(mask)));
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
    const __m256i blue_green = _mm256_shuffle_epi8(quarter, BothLanes(kGrayShuffles.blue_green));
    const __m256i red = _mm256_shuffle_epi8(quarter, BothLanes(kGrayShuffles.red));
    return _mm256_add_epi32(_mm256_madd_epi16(blue_green, blue_green_weights), _mm256_madd_epi16(red, red_weights));
}

// q from N, and in `exact` all-ones where q is proved right.
KORVANE_AVX2 __m256i EstimateGray(__m256i sums, __m256i& exact) {
    const __m256 reciprocal = _mm256_set1_ps(1.0f / kGrayScale);
    const __m256i scale = _mm256_set1_epi32(kGrayScale);  // q < 2^15: madd multiplies q by the scale
    const __m256i quotients = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(sums), reciprocal));
    const __m256i remainders = _mm256_sub_epi32(sums, _mm256_madd_epi16(quotients, scale));
    const __m256i zero = _mm256_setzero_si256();
    const __m256i inside = _mm256_and_si256(_mm256_cmpgt_epi32(remainders, zero), _mm256_cmpgt_epi32(scale, remainders));
    exact = _mm256_and_si256(exact, _mm256_or_si256(inside, _mm256_cmpeq_epi32(sums, zero)));
    return quotients;
}

// Turns 32 pixels gray in place; reads the 4 bytes after them as well.
KORVANE_AVX2 void GrayStep(std::uint8_t* pixels) {
    __m256i exact = _mm256_set1_epi32(-1);
    __m256i quotients[kQuarters];
    for (std::size_t quarter = 0; quarter < kQuarters; ++quarter) {
        quotients[quarter] = EstimateGray(WeightedSums(LoadQuarter(pixels, quarter)), exact);
    }
    if (_mm256_movemask_epi8(exact) != -1) [[unlikely]] {
        GrayPixels(pixels, kStepPixels);
        return;
    }
    // Byte i of each lane is pixel i of its group.
    const __m256i grays = _mm256_packus_epi16(_mm256_packs_epi32(quotients[0], quotients[1]),
                                              _mm256_packs_epi32(quotients[2], quotients[3]));
    for (std::size_t part = 0; part < kBytesPerPixel; ++part) {
        const __m256i out = _mm256_shuffle_epi8(grays, BothLanes(kGrayShuffles.spread[part]));
        _mm256_storeu2_m128i(reinterpret_cast<__m128i*>(pixels + kGroupBytes + part * kLaneBytes),
                             reinterpret_cast<__m128i*>(pixels + part * kLaneBytes), out);
    }
}

// Returns how many pixels it turned gray: whole steps only, each followed by
// at least the 4 bytes a step reads past its end.
KORVANE_AVX2 std::size_t GrayStepsAvx2(std::uint8_t* pixels, std::size_t count) {
    const std::size_t steps = count > kOverreadPixels ? (count - kOverreadPixels) / kStepPixels : 0;
    for (std::size_t step = 0; step < steps; ++step) {
        GrayStep(pixels + step * kStepPixels * kBytesPerPixel);
    }
    return steps * kStepPixels;
}

std::size_t GrayStepsFast(std::uint8_t* pixels, std::size_t count) {
    return __builtin_cpu_supports("avx2") ? GrayStepsAvx2(pixels, count) : 0;
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
