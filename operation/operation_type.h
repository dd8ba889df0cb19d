// Which of the four operations a process performs.
#ifndef SKIFF_OPERATION_OPERATION_TYPE_H_
#define SKIFF_OPERATION_OPERATION_TYPE_H_

enum class OperationType { Install = 0, Uninstall = 1, Launch = 2, AppStatus = 3 };

#endif  // SKIFF_OPERATION_OPERATION_TYPE_H_
