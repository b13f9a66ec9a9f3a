// The card's sample words: one 16-bit big-endian word out per frame. The top 16 bits of a wider
// sample are its two most significant bytes. Source and destination never overlap. The common
// formats go through vector loops (SSE2, which every x86-64 has, or AVX2 where the processor has
// it; SSSE3's byte shuffle for 24-bit samples) so that conversion keeps pace with copying the
// same bytes (bench/bench_convert); plain loops do the last few frames and serve other processors.

#include "model/sound/SampleKernels.h"

namespace cardmill {

#if defined(CARDMILL_AVX2_CONVERTERS)
SampleConverter ChooseAvx2Converter(const SampleFormat& format);
#endif

namespace {

#if defined(__SSE2__)
struct Sse2 {
    using Reg = __m128i;
    static constexpr std::size_t kBytes = 16;
    static Reg Load(const std::uint8_t* p) { return cardmill::Load(p); }
    /// Eight bytes, each widened to the low byte of a 16-bit lane.
    static Reg LoadWidened(const std::uint8_t* p)
    {
        return _mm_unpacklo_epi8(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
    }
    static void Store(std::uint8_t* p, Reg x) { cardmill::Store(p, x); }
    static Reg Set16(int v) { return _mm_set1_epi16(static_cast<short>(v)); }
    static Reg And(Reg a, Reg b) { return _mm_and_si128(a, b); }
    static Reg Xor(Reg a, Reg b) { return _mm_xor_si128(a, b); }
    static Reg Add16(Reg a, Reg b) { return _mm_add_epi16(a, b); }
    static Reg Madd(Reg a, Reg b) { return _mm_madd_epi16(a, b); }
    static Reg Pack32(Reg a, Reg b) { return _mm_packs_epi32(a, b); }
    static Reg Swap16(Reg x) { return cardmill::Swap16(x); }
    template <int N> static Reg Shl16(Reg x) { return _mm_slli_epi16(x, N); }
    template <int N> static Reg Shr16(Reg x) { return _mm_srli_epi16(x, N); }
    template <int N> static Reg Sar16(Reg x) { return _mm_srai_epi16(x, N); }
    template <int N> static Reg Shl32(Reg x) { return _mm_slli_epi32(x, N); }
    template <int N> static Reg Sar32(Reg x) { return _mm_srai_epi32(x, N); }
};
#endif

} // namespace

SampleConverter ChooseConverter(const SampleFormat& format, VectorUnits units)
{
    switch (units) {
    case VectorUnits::kNone:
        return ChooseWith<ScalarOnly>(format);
    case VectorUnits::kSse2:
#if defined(__SSE2__)
        return ChooseWith<Sse2>(format);
#else
        return nullptr;
#endif
    case VectorUnits::kAvx2:
#if defined(CARDMILL_AVX2_CONVERTERS)
        if (__builtin_cpu_supports("avx2"))
            return ChooseAvx2Converter(format);
#endif
        break;
    }
    return nullptr;
}

SampleConverter ChooseConverter(const SampleFormat& format)
{
    for (const VectorUnits units : { VectorUnits::kAvx2, VectorUnits::kSse2 })
        if (const SampleConverter convert = ChooseConverter(format, units))
            return convert;
    return ChooseConverter(format, VectorUnits::kNone);
}

} // namespace cardmill
