// Result codes shared by the operations, the runner, the comm bridge, the
// document readers and writers and the process's exit.
#ifndef SKIFF_OPERATION_RESULT_CODES_H_
#define SKIFF_OPERATION_RESULT_CODES_H_

constexpr int kResultSuccess = 0;
constexpr int kResultFailure = 38;
constexpr int kParseFailure = 16;

#endif  // SKIFF_OPERATION_RESULT_CODES_H_
