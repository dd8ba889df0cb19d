// The parameters of the one operation a process performs.
#ifndef SKIFF_APP_OPERATION_PARAMS_H_
#define SKIFF_APP_OPERATION_PARAMS_H_

#include <string>

class OperationParams {
 public:
  virtual ~OperationParams() = default;

  std::string responseXml;
  std::string outputXmlPath;
  std::string pipeName;
  int progressIntervalSeconds = 1;

 protected:
  OperationParams() = default;
};

class LaunchOperationParams : public OperationParams {
 public:
  explicit LaunchOperationParams(const std::string& bundleInfo) : bundleInfo(bundleInfo) {}

  std::string bundleInfo;
  std::string workflow;
};

class AppStatusOperationParams : public OperationParams {
 public:
  explicit AppStatusOperationParams(const std::string& bundleInfo) : bundleInfo(bundleInfo) {}

  std::string bundleInfo;
  std::string workflow;
};

class InstallOperationParams : public OperationParams {
 public:
  explicit InstallOperationParams(const std::string& pkgPath) : pkgPath(pkgPath) {}

  std::string pkgPath;
};

class UninstallOperationParams : public OperationParams {
 public:
  UninstallOperationParams(const std::string& removerCommand, const std::string& bundleId)
      : removerCommand(removerCommand), bundleId(bundleId) {}

  std::string removerCommand;
  std::string bundleId;
};

#endif  // SKIFF_APP_OPERATION_PARAMS_H_
