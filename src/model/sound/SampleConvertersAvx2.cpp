// The sample converters again, on 32-byte vectors; compiled with AVX2 on and only ever called
// once the processor has said it has AVX2.

#include "model/sound/SampleKernels.h"

namespace cardmill {

SampleConverter ChooseAvx2Converter(const SampleFormat& format);

namespace {

struct Avx2 {
    using Reg = __m256i;
    static constexpr std::size_t kBytes = 32;
    static Reg Load(const std::uint8_t* p)
    {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    /// Sixteen bytes, each widened to the low byte of a 16-bit lane.
    static Reg LoadWidened(const std::uint8_t* p)
    {
        return _mm256_cvtepu8_epi16(cardmill::Load(p));
    }
    static void Store(std::uint8_t* p, Reg x)
    {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), x);
    }
    static Reg Set16(int v) { return _mm256_set1_epi16(static_cast<short>(v)); }
    static Reg And(Reg a, Reg b) { return _mm256_and_si256(a, b); }
    static Reg Xor(Reg a, Reg b) { return _mm256_xor_si256(a, b); }
    static Reg Add16(Reg a, Reg b) { return _mm256_add_epi16(a, b); }
    static Reg Madd(Reg a, Reg b) { return _mm256_madd_epi16(a, b); }
    /// The 256-bit pack works within each 128-bit half; the permute puts the halves in order.
    static Reg Pack32(Reg a, Reg b)
    {
        return _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
    }
    static Reg Swap16(Reg x)
    {
        return _mm256_or_si256(_mm256_slli_epi16(x, 8), _mm256_srli_epi16(x, 8));
    }
    template <int N> static Reg Shl16(Reg x) { return _mm256_slli_epi16(x, N); }
    template <int N> static Reg Shr16(Reg x) { return _mm256_srli_epi16(x, N); }
    template <int N> static Reg Sar16(Reg x) { return _mm256_srai_epi16(x, N); }
    template <int N> static Reg Shl32(Reg x) { return _mm256_slli_epi32(x, N); }
    template <int N> static Reg Sar32(Reg x) { return _mm256_srai_epi32(x, N); }
};

} // namespace

SampleConverter ChooseAvx2Converter(const SampleFormat& format)
{
    return ChooseWith<Avx2>(format);
}

} // namespace cardmill
