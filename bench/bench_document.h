// A large XML document of the kind Skiff reads: a deployment description with
// nested groups of properties, attributes, escaped texts and non-ASCII names.
#ifndef SKIFF_BENCH_BENCH_DOCUMENT_H_
#define SKIFF_BENCH_BENCH_DOCUMENT_H_

#include <cstddef>
#include <string>

// About `bytes` long (a little more: whole groups are written).
std::string BenchDocument(size_t bytes);

#endif  // SKIFF_BENCH_BENCH_DOCUMENT_H_
