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
// and that N / 10000 is not whole; black (N = 0) is exact as well. Any other
// pixel (1,703 of the 16,777,216 colours) takes GrayValue itself.
//
// Each 128-bit lane holds a group of 16 pixels (48 bytes), so every shuffle
// stays inside its lane.
#define KORVANE_AVX2 __attribute__((target("avx2")))

constexpr int kLaneBytes = 16;
constexpr std::size_t kGroupPixels = kLaneBytes;
constexpr std::size_t kGroupBytes = kGroupPixels * kBytesPerPixel;
constexpr std::size_t kStepPixels = 2 * kGroupPixels;

struct GrayShuffles {
    // gather[c][k]: channel c of the group's 16 pixels, from its k-th 16 bytes.
    std::int8_t gather[kBytesPerPixel][kBytesPerPixel][kLaneBytes];
    // spread[k]: the group's k-th 16 output bytes, each gray value 3 times.
    std::int8_t spread[kBytesPerPixel][kLaneBytes];
};

constexpr GrayShuffles MakeGrayShuffles() {
    GrayShuffles masks{};
    constexpr int kNone = -1;  // a negative index makes a zero byte
    constexpr int kChannels = kBytesPerPixel;
    for (int channel = 0; channel < kChannels; ++channel) {
        for (int pixel = 0; pixel < kLaneBytes; ++pixel) {
            const int byte = pixel * kChannels + channel;
            for (int part = 0; part < kChannels; ++part) {
                const bool here = byte / kLaneBytes == part;
                masks.gather[channel][part][pixel] = static_cast<std::int8_t>(here ? byte % kLaneBytes : kNone);
            }
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

// One channel of both groups: byte i of each lane is pixel i of its group.
KORVANE_AVX2 __m256i GatherChannel(const __m256i (&parts)[3], int channel) {
    __m256i bytes = _mm256_setzero_si256();
    for (int part = 0; part < 3; ++part) {
        const __m256i picked = _mm256_shuffle_epi8(parts[part], BothLanes(kGrayShuffles.gather[channel][part]));
        bytes = _mm256_or_si256(bytes, picked);
    }
    return bytes;
}

// N for 4 pixels per lane from 16-bit (red, green) pairs and (blue, 0) pairs.
KORVANE_AVX2 __m256i WeightedSums(__m256i red_green, __m256i blue_zero) {
    const __m256i red_green_weights = _mm256_set1_epi32((kGreenGrayWeight << 16) | kRedGrayWeight);
    const __m256i blue_weights = _mm256_set1_epi32(kBlueGrayWeight);
    return _mm256_add_epi32(_mm256_madd_epi16(red_green, red_green_weights),
                            _mm256_madd_epi16(blue_zero, blue_weights));
}

struct GrayEstimate {
    __m256i quotients;  // 32-bit q per pixel
    __m256i exact;      // 16-bit all-ones per pixel where q is proved right
};

// q for 8 pixels per lane from their sums, and the proof that q is right.
KORVANE_AVX2 GrayEstimate EstimateGray(__m256i sums_low, __m256i sums_high) {
    const __m256 reciprocal = _mm256_set1_ps(1.0f / kGrayScale);
    const __m256i scale = _mm256_set1_epi32(kGrayScale);  // q < 2^15: madd multiplies q by the scale
    const __m256i q_low = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(sums_low), reciprocal));
    const __m256i q_high = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(sums_high), reciprocal));
    // The remainders lie well within 16 bits; the sums only need to stay zero.
    const __m256i remainders = _mm256_packs_epi32(_mm256_sub_epi32(sums_low, _mm256_madd_epi16(q_low, scale)),
                                                  _mm256_sub_epi32(sums_high, _mm256_madd_epi16(q_high, scale)));
    const __m256i sums = _mm256_packs_epi32(sums_low, sums_high);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i inside = _mm256_and_si256(_mm256_cmpgt_epi16(remainders, zero),
                                            _mm256_cmpgt_epi16(_mm256_set1_epi16(kGrayScale), remainders));
    return {_mm256_packs_epi32(q_low, q_high), _mm256_or_si256(inside, _mm256_cmpeq_epi16(sums, zero))};
}

// Turns 32 pixels gray in place.
KORVANE_AVX2 void GrayStep(std::uint8_t* pixels) {
    const auto load = [pixels](std::size_t part) KORVANE_AVX2 {
        const auto* first = reinterpret_cast<const __m128i*>(pixels + part * kLaneBytes);
        const auto* second = reinterpret_cast<const __m128i*>(pixels + kGroupBytes + part * kLaneBytes);
        return _mm256_loadu2_m128i(second, first);
    };
    const __m256i parts[3] = {load(0), load(1), load(2)};
    const __m256i blue = GatherChannel(parts, 0);
    const __m256i green = GatherChannel(parts, 1);
    const __m256i red = GatherChannel(parts, 2);

    const __m256i zero = _mm256_setzero_si256();
    const __m256i red_green_low = _mm256_unpacklo_epi8(red, green);   // pixels 0-7 of each group
    const __m256i red_green_high = _mm256_unpackhi_epi8(red, green);  // pixels 8-15
    const __m256i blue_low = _mm256_unpacklo_epi8(blue, zero);
    const __m256i blue_high = _mm256_unpackhi_epi8(blue, zero);
    const GrayEstimate low = EstimateGray(
        WeightedSums(_mm256_unpacklo_epi8(red_green_low, zero), _mm256_unpacklo_epi16(blue_low, zero)),
        WeightedSums(_mm256_unpackhi_epi8(red_green_low, zero), _mm256_unpackhi_epi16(blue_low, zero)));
    const GrayEstimate high = EstimateGray(
        WeightedSums(_mm256_unpacklo_epi8(red_green_high, zero), _mm256_unpacklo_epi16(blue_high, zero)),
        WeightedSums(_mm256_unpackhi_epi8(red_green_high, zero), _mm256_unpackhi_epi16(blue_high, zero)));

    // Byte i of these is pixel i of the step (lane 1 holds pixels 16-31).
    __m256i grays = _mm256_packus_epi16(low.quotients, high.quotients);
    const auto exact = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_packs_epi16(low.exact, high.exact)));
    if (exact != 0xFFFFFFFFu) [[unlikely]] {
        alignas(32) std::uint8_t values[kStepPixels];
        _mm256_store_si256(reinterpret_cast<__m256i*>(values), grays);
        for (std::size_t i = 0; i < kStepPixels; ++i) {
            const std::uint8_t* pixel = pixels + i * kBytesPerPixel;
            if ((exact >> i & 1) == 0) values[i] = GrayValue(pixel[0], pixel[1], pixel[2]);
        }
        grays = _mm256_load_si256(reinterpret_cast<const __m256i*>(values));
    }

    for (std::size_t part = 0; part < 3; ++part) {
        const __m256i out = _mm256_shuffle_epi8(grays, BothLanes(kGrayShuffles.spread[part]));
        _mm256_storeu2_m128i(reinterpret_cast<__m128i*>(pixels + kGroupBytes + part * kLaneBytes),
                             reinterpret_cast<__m128i*>(pixels + part * kLaneBytes), out);
    }
}

// Returns how many pixels it turned gray: whole steps only.
KORVANE_AVX2 std::size_t GrayStepsAvx2(std::uint8_t* pixels, std::size_t count) {
    const std::size_t steps = count / kStepPixels;
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
