// The sample converters' loops, shared by the translation units that compile them for different
// instruction sets. Everything here has internal linkage on purpose: each unit gets its own copy,
// built with its own flags, so the linker can never hand a processor code it cannot run.

#pragma once

#include "model/sound/MSoundFile.h"

#include <type_traits>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace cardmill {
namespace {

enum Mode { kMono, kFirst, kSecond, kMix };

template <int Bytes, bool Little> inline int Top16(const std::uint8_t* s)
{
    if constexpr (Little)
        return static_cast<std::int16_t>((s[Bytes - 1] << 8) | s[Bytes - 2]);
    else
        return static_cast<std::int16_t>((s[0] << 8) | s[1]);
}

inline void PutWord(std::uint8_t* out, int value)
{
    out[0] = static_cast<std::uint8_t>(value >> 8);
    out[1] = static_cast<std::uint8_t>(value);
}

template <int Bytes, bool Little, Mode M>
void ConvertWide(
    const std::uint8_t* __restrict in, std::uint8_t* __restrict out, std::size_t frames)
{
    constexpr std::size_t frameBytes = Bytes * (M == kMono ? 1 : 2);
    for (std::size_t i = 0; i < frames; ++i) {
        const std::uint8_t* frame = in + i * frameBytes;
        int value;
        if constexpr (M == kMono || M == kFirst)
            value = Top16<Bytes, Little>(frame);
        else if constexpr (M == kSecond)
            value = Top16<Bytes, Little>(frame + Bytes);
        else
            value = (Top16<Bytes, Little>(frame) + Top16<Bytes, Little>(frame + Bytes)) >> 1;
        PutWord(out + 2 * i, value);
    }
}

template <bool Unsigned> inline int Sample8(std::uint8_t s)
{
    return Unsigned ? s - 128 : static_cast<std::int8_t>(s);
}

template <bool Unsigned>
void Convert8Mono(
    const std::uint8_t* __restrict in, std::uint8_t* __restrict out, std::size_t frames)
{
    for (std::size_t i = 0; i < frames; ++i) {
        out[2 * i] = static_cast<std::uint8_t>(Sample8<Unsigned>(in[i]));
        out[2 * i + 1] = 0;
    }
}

template <bool Unsigned, Mode M>
void Convert8Stereo(
    const std::uint8_t* __restrict in, std::uint8_t* __restrict out, std::size_t frames)
{
    for (std::size_t i = 0; i < frames; ++i) {
        const int left = Sample8<Unsigned>(in[2 * i]);
        const int right = Sample8<Unsigned>(in[2 * i + 1]);
        if constexpr (M == kMix) {
            PutWord(out + 2 * i, (left + right) * 128);
        } else {
            out[2 * i] = static_cast<std::uint8_t>(M == kFirst ? left : right);
            out[2 * i + 1] = 0;
        }
    }
}

/// The plain loops alone, for processors without the vector units below.
struct ScalarOnly { };

#if defined(__SSE2__)

inline __m128i Load(const std::uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline void Store(std::uint8_t* p, __m128i x)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), x);
}

inline __m128i Swap16(__m128i x)
{
    return _mm_or_si128(_mm_slli_epi16(x, 8), _mm_srli_epi16(x, 8));
}

/// (a + b) >> 1 of signed 16-bit lanes without overflow.
inline __m128i FloorAverage(__m128i a, __m128i b)
{
    return _mm_add_epi16(_mm_and_si128(a, b), _mm_srai_epi16(_mm_xor_si128(a, b), 1));
}

/// 16-bit frames (and 32-bit mono, whose top half is the second 16-bit lane of a little-endian
/// frame and the first of a big-endian one), half a vector of frames per step. V is a vector
/// width: its Pack32 gives the 16-bit lanes of two vectors of 32-bit lanes in order.
template <typename V, bool Little, Mode M, int FrameBytes>
std::size_t Kernel16(const std::uint8_t* in, std::uint8_t* out, std::size_t frames)
{
    constexpr std::size_t kStep = V::kBytes / 2;
    std::size_t i = 0;
    for (; i + kStep <= frames; i += kStep) {
        const std::uint8_t* block = in + i * FrameBytes;
        typename V::Reg words;
        if constexpr (FrameBytes == 2) {
            words = V::Load(block);
        } else {
            auto a = V::Load(block), b = V::Load(block + V::kBytes);
            if constexpr (M == kMix) {
                if constexpr (!Little) {
                    a = V::Swap16(a);
                    b = V::Swap16(b);
                }
                const auto ones = V::Set16(1);
                words = V::Pack32(
                    V::template Sar32<1>(V::Madd(a, ones)), V::template Sar32<1>(V::Madd(b, ones)));
            } else if constexpr (M == kFirst) {
                // Sign-extended first, so the saturating pack is exact for any bit pattern.
                words = V::Pack32(V::template Sar32<16>(V::template Shl32<16>(a)),
                    V::template Sar32<16>(V::template Shl32<16>(b)));
            } else {
                words = V::Pack32(V::template Sar32<16>(a), V::template Sar32<16>(b));
            }
        }
        V::Store(out + 2 * i, Little || M == kMix ? V::Swap16(words) : words);
    }
    return i;
}

/// 8-bit frames, half a vector of frames per step.
template <typename V, bool Unsigned, Mode M>
std::size_t Kernel8(const std::uint8_t* in, std::uint8_t* out, std::size_t frames)
{
    constexpr std::size_t kStep = V::kBytes / 2;
    std::size_t i = 0;
    for (; i + kStep <= frames; i += kStep) {
        typename V::Reg words;
        if constexpr (M == kMono) {
            // Each byte becomes the high byte of its word, the low byte stays 0.
            words = V::Xor(V::LoadWidened(in + i), V::Set16(Unsigned ? 0x80 : 0));
        } else {
            const auto x = V::Xor(V::Load(in + 2 * i), V::Set16(Unsigned ? 0x8080 : 0));
            if constexpr (M == kFirst) {
                words = V::And(x, V::Set16(0x00FF));
            } else if constexpr (M == kSecond) {
                words = V::template Shr16<8>(x);
            } else {
                const auto left = V::template Sar16<8>(V::template Shl16<8>(x));
                const auto right = V::template Sar16<8>(x);
                words = V::Swap16(V::template Shl16<7>(V::Add16(left, right)));
            }
        }
        V::Store(out + 2 * i, words);
    }
    return i;
}

/// Which of 48 input bytes goes to each of 16 output bytes, as one byte-shuffle mask per
/// 16-byte third of the input (-128 clears the lane).
struct Gather {
    alignas(16) std::int8_t mask[3][16];
};

template <typename ByteOf> constexpr Gather MakeGather(ByteOf byteOf)
{
    Gather gather {};
    for (int part = 0; part < 3; ++part)
        for (int j = 0; j < 16; ++j) {
            const int byte = byteOf(j);
            gather.mask[part][j] = static_cast<std::int8_t>(byte / 16 == part ? byte % 16 : -128);
        }
    return gather;
}

__attribute__((target("ssse3"))) inline __m128i Pick(const __m128i (&in)[3], const Gather& g)
{
    __m128i result = _mm_setzero_si128();
    for (int part = 0; part < 3; ++part)
        result = _mm_or_si128(result,
            _mm_shuffle_epi8(
                in[part], _mm_load_si128(reinterpret_cast<const __m128i*>(g.mask[part]))));
    return result;
}

/// Byte `k` (0 the low byte) of the top 16 bits of the sample starting at input byte `at`, for
/// byte-order-native arithmetic.
constexpr int Top16Byte(bool little, int at, int k)
{
    return little ? at + 1 + k : at + 1 - k;
}

/// 24-bit frames: sixteen mono or eight stereo frames (48 bytes) per block.
template <bool Little, Mode M>
__attribute__((target("ssse3"))) std::size_t Kernel24(
    const std::uint8_t* in, std::uint8_t* out, std::size_t frames)
{
    constexpr int kFrameBytes = M == kMono ? 3 : 6;
    constexpr int kChannel = M == kSecond ? 3 : 0;
    // A card word is big-endian: output byte 2f holds the high byte, 2f + 1 the low one.
    constexpr auto wordsOf = [](int first, int offset) {
        return [=](int j) {
            return Top16Byte(Little, (first + j / 2) * kFrameBytes + offset, 1 - j % 2);
        };
    };
    constexpr auto nativeOf = [](int offset) {
        return [=](int j) { return Top16Byte(Little, (j / 2) * kFrameBytes + offset, j % 2); };
    };
    static constexpr Gather kLow = MakeGather(wordsOf(0, kChannel));
    static constexpr Gather kHigh = MakeGather(wordsOf(8, kChannel));
    static constexpr Gather kLeft = MakeGather(nativeOf(0));
    static constexpr Gather kRight = MakeGather(nativeOf(3));
    std::size_t i = 0;
    for (; i + 48 / kFrameBytes <= frames; i += 48 / kFrameBytes) {
        const std::uint8_t* block = in + i * kFrameBytes;
        const __m128i parts[3] = { Load(block), Load(block + 16), Load(block + 32) };
        std::uint8_t* words = out + 2 * i;
        if constexpr (M == kMono) {
            Store(words, Pick(parts, kLow));
            Store(words + 16, Pick(parts, kHigh));
        } else if constexpr (M == kMix) {
            const __m128i swap
                = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
            Store(words,
                _mm_shuffle_epi8(FloorAverage(Pick(parts, kLeft), Pick(parts, kRight)), swap));
        } else {
            Store(words, Pick(parts, kLow));
        }
    }
    return i;
}

#endif

template <auto Bulk, SampleConverter Tail, int FrameBytes>
void WithTail(const std::uint8_t* __restrict in, std::uint8_t* __restrict out, std::size_t frames)
{
    const std::size_t done = Bulk(in, out, frames);
    Tail(in + done * FrameBytes, out + 2 * done, frames - done);
}

template <typename V, int Bytes, bool Little, Mode M> SampleConverter Wide()
{
    constexpr int frameBytes = Bytes * (M == kMono ? 1 : 2);
    constexpr SampleConverter scalar = ConvertWide<Bytes, Little, M>;
#if defined(__SSE2__)
    if constexpr (!std::is_same_v<V, ScalarOnly>) {
        if constexpr (Bytes == 2)
            return WithTail<Kernel16<V, Little, M, frameBytes>, scalar, frameBytes>;
        if constexpr (Bytes == 4 && M == kMono)
            return WithTail<Kernel16<V, Little, Little ? kSecond : kFirst, 4>, scalar, 4>;
        if constexpr (Bytes == 3)
            if (__builtin_cpu_supports("ssse3"))
                return WithTail<Kernel24<Little, M>, scalar, frameBytes>;
    }
#endif
    return scalar;
}

template <typename V, bool Unsigned, Mode M> SampleConverter Narrow()
{
    constexpr SampleConverter scalar = [] {
        if constexpr (M == kMono)
            return Convert8Mono<Unsigned>;
        else
            return Convert8Stereo<Unsigned, M>;
    }();
#if defined(__SSE2__)
    if constexpr (!std::is_same_v<V, ScalarOnly>)
        return WithTail < Kernel8<V, Unsigned, M>, scalar, M == kMono ? 1 : 2 > ;
#endif
    return scalar;
}

template <template <Mode> class Of> SampleConverter ForMode(Mode mode)
{
    switch (mode) {
    case kMono:
        return Of<kMono>::Get();
    case kFirst:
        return Of<kFirst>::Get();
    case kSecond:
        return Of<kSecond>::Get();
    case kMix:
        break;
    }
    return Of<kMix>::Get();
}

template <typename V, int Bytes, bool Little> struct WideOf {
    template <Mode M> struct For {
        static SampleConverter Get() { return Wide<V, Bytes, Little, M>(); }
    };
};

template <typename V, bool Unsigned> struct NarrowOf {
    template <Mode M> struct For {
        static SampleConverter Get() { return Narrow<V, Unsigned, M>(); }
    };
};

/// The converter of `format` built on vector width V (or ScalarOnly).
template <typename V> SampleConverter ChooseWith(const SampleFormat& format)
{
    const Mode mode = format.channelCount < 2 ? kMono
        : format.channel == 1                 ? kFirst
        : format.channel == 2                 ? kSecond
                                              : kMix;
    const bool little = format.littleEndian;
    switch (format.bytesPerSample) {
    case 1:
        return format.unsigned8 ? ForMode<NarrowOf<V, true>::template For>(mode)
                                : ForMode<NarrowOf<V, false>::template For>(mode);
    case 2:
        return little ? ForMode<WideOf<V, 2, true>::template For>(mode)
                      : ForMode<WideOf<V, 2, false>::template For>(mode);
    case 3:
        return little ? ForMode<WideOf<V, 3, true>::template For>(mode)
                      : ForMode<WideOf<V, 3, false>::template For>(mode);
    case 4:
        return little ? ForMode<WideOf<V, 4, true>::template For>(mode)
                      : ForMode<WideOf<V, 4, false>::template For>(mode);
    default:
        return nullptr;
    }
}

} // namespace
} // namespace cardmill
