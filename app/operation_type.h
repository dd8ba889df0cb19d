#ifndef SKIFF_APP_OPERATION_TYPE_H_
#define SKIFF_APP_OPERATION_TYPE_H_

enum class OperationType { Install = 0, Uninstall = 1, Launch = 2, AppStatus = 3 };

// Result codes shared by the operations, the runner and the writers.
constexpr int kResultSuccess = 0;
constexpr int kResultFailure = 38;
constexpr int kParseFailure = 16;

#endif  // SKIFF_APP_OPERATION_TYPE_H_
