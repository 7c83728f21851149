// Upper-casing the ASCII letters of a run of bytes: byte by byte, and, where the target has SSE2,
// 16 bytes at a time with the bytes left over byte by byte.
#include "text/ascii_case.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvandel::unicode {
namespace {

namespace portable {

void upper_ascii_letters(char* p, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) p[i] = upper_ascii_char(static_cast<Byte>(p[i]));
}

}  // namespace portable

#if defined(__SSE2__)
namespace sse2 {

void upper_ascii_letters(char* p, std::size_t length) {
  std::size_t i = 0;
  for (; i + 16 <= length; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    // The lower-case letters: v - 'a' <= 25, unsigned.
    const __m128i from_a = _mm_sub_epi8(v, _mm_set1_epi8('a'));
    const __m128i lower = _mm_cmpeq_epi8(_mm_min_epu8(from_a, _mm_set1_epi8(25)), from_a);
    if (_mm_movemask_epi8(lower) == 0) continue;  // most text needs no store
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i),
                     _mm_sub_epi8(v, _mm_and_si128(lower, _mm_set1_epi8(0x20))));
  }
  portable::upper_ascii_letters(p + i, length - i);
}

}  // namespace sse2
namespace kernels = sse2;
#else
namespace kernels = portable;
#endif

}  // namespace

void upper_ascii_letters(char* p, std::size_t length) {
  kernels::upper_ascii_letters(p, length);
}

}  // namespace corvandel::unicode
