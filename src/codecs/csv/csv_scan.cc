// Finding the bytes the CSV reader stops at (F, T, line feed), 64 at a time.
// The widest vector unit the processor has is chosen once, at run time, so
// one build runs everywhere; the plainer scanners stay for tests.
#include <atomic>
#include <cstdint>

#include "codecs/csv/csv_internal.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QB_CSV_X86 1
#endif

namespace qb {
namespace {

void mask_portable(const char* p, size_t blocks, char f, char t, uint64_t* out) {
    bool stop[256] = {};
    stop[static_cast<unsigned char>(f)] = stop[static_cast<unsigned char>(t)] = stop[static_cast<unsigned char>('\n')] = true;
    for (size_t k = 0; k < blocks; ++k, p += 64) {
        uint64_t m = 0;
        for (int i = 0; i < 64; ++i) m |= uint64_t{stop[static_cast<unsigned char>(p[i])]} << i;
        out[k] = m;
    }
}

#if defined(QB_CSV_X86) && defined(__SSE2__)
void mask_sse2(const char* p, size_t blocks, char f, char t, uint64_t* out) {
    const __m128i vf = _mm_set1_epi8(f), vt = _mm_set1_epi8(t), lf = _mm_set1_epi8('\n');
    for (size_t k = 0; k < blocks; ++k, p += 64) {
        uint64_t m = 0;
        for (int i = 0; i < 4; ++i) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
            const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, vf), _mm_cmpeq_epi8(v, vt)), _mm_cmpeq_epi8(v, lf));
            m |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(hit))} << (16 * i);
        }
        out[k] = m;
    }
}

__attribute__((target("avx2"))) void mask_avx2(const char* p, size_t blocks, char f, char t, uint64_t* out) {
    const __m256i vf = _mm256_set1_epi8(f), vt = _mm256_set1_epi8(t), lf = _mm256_set1_epi8('\n');
    for (size_t k = 0; k < blocks; ++k, p += 64) {
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
        const __m256i hit_lo =
            _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(lo, vf), _mm256_cmpeq_epi8(lo, vt)), _mm256_cmpeq_epi8(lo, lf));
        const __m256i hit_hi =
            _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(hi, vf), _mm256_cmpeq_epi8(hi, vt)), _mm256_cmpeq_epi8(hi, lf));
        out[k] = uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(hit_lo))} |
                 uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(hit_hi))} << 32;
    }
}
#endif

CsvMaskFn scanner(CsvScan s) {
    switch (s) {
#if defined(QB_CSV_X86) && defined(__SSE2__)
        case CsvScan::kAvx2:
            return mask_avx2;
        case CsvScan::kSse2:
            return mask_sse2;
#endif
        default:
            return mask_portable;
    }
}

std::atomic<CsvMaskFn> g_scanner{nullptr};

}  // namespace

CsvScan csv_scan_best() {
#if defined(QB_CSV_X86) && defined(__SSE2__)
    if (__builtin_cpu_supports("avx2")) return CsvScan::kAvx2;
    return CsvScan::kSse2;
#else
    return CsvScan::kPortable;
#endif
}

CsvScan csv_use_scan(CsvScan s) {
    const CsvScan best = csv_scan_best();
    if (static_cast<int>(s) > static_cast<int>(best)) s = best;
    g_scanner.store(scanner(s), std::memory_order_relaxed);
    return s;
}

CsvMaskFn csv_scanner() {
    CsvMaskFn fn = g_scanner.load(std::memory_order_relaxed);
    if (!fn) {
        fn = scanner(csv_scan_best());
        g_scanner.store(fn, std::memory_order_relaxed);
    }
    return fn;
}

}  // namespace qb
