#include "core/floating_point.hpp"

#include <omp.h>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace mps {

void enable_flush_to_zero() {
#if defined(__SSE2__)
  // FTZ (bit 15) and DAZ (bit 6); exceptions stay masked.
  _mm_setcsr(_mm_getcsr() | 0x8040u);
#elif defined(__aarch64__)
  unsigned long fpcr = 0;
  __asm__ volatile("mrs %0, fpcr" : "=r"(fpcr));
  fpcr |= (1ul << 24);  // FZ
  __asm__ volatile("msr fpcr, %0" : : "r"(fpcr));
#endif
}

void enable_flush_to_zero_all_threads() {
  enable_flush_to_zero();
#pragma omp parallel
  { enable_flush_to_zero(); }
}

bool flush_to_zero_active() {
  volatile double a = 1e-200;
  volatile double b = 1e-200;
  volatile double product = a * b * 1e100;         // 1e-300 would be normal; a*b is subnormal first
  volatile double tiny = 2.2250738585072014e-308;  // smallest normal
  volatile double half = tiny * 0.5;               // subnormal unless flushed
  return product == 0.0 && half == 0.0;
}

}  // namespace mps
