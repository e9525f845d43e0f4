#pragma once
// Processor floating-point set-up of the run: subnormal results are flushed
// to zero and subnormal operands read as zero, on every thread.  The
// medium's relaxation factors produce many tiny values; results are defined
// with them flushed, and flushing keeps the per-cell loops at full speed.
namespace mps {

// Sets flush-to-zero and denormals-are-zero on the calling thread.
void enable_flush_to_zero();
// Sets them on the calling thread and on every thread of the OpenMP team.
void enable_flush_to_zero_all_threads();
// True when a product of two small normal numbers comes out as 0 here.
bool flush_to_zero_active();

}  // namespace mps
