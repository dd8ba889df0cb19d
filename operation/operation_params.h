// The parameters of the one operation a process performs.
#ifndef SKIFF_OPERATION_OPERATION_PARAMS_H_
#define SKIFF_OPERATION_OPERATION_PARAMS_H_

#include <memory>
#include <string>

class OperationParams {
 public:
  virtual ~OperationParams() = default;

  // A copy for a worker thread, which may outlive the caller's object.
  virtual std::unique_ptr<OperationParams> Clone() const = 0;

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

  std::unique_ptr<OperationParams> Clone() const override {
    return std::make_unique<LaunchOperationParams>(*this);
  }

  std::string bundleInfo;
  std::string workflow;
};

class AppStatusOperationParams : public OperationParams {
 public:
  explicit AppStatusOperationParams(const std::string& bundleInfo) : bundleInfo(bundleInfo) {}

  std::unique_ptr<OperationParams> Clone() const override {
    return std::make_unique<AppStatusOperationParams>(*this);
  }

  std::string bundleInfo;
  std::string workflow;
};

class InstallOperationParams : public OperationParams {
 public:
  explicit InstallOperationParams(const std::string& pkgPath) : pkgPath(pkgPath) {}

  std::unique_ptr<OperationParams> Clone() const override {
    return std::make_unique<InstallOperationParams>(*this);
  }

  std::string pkgPath;
};

class UninstallOperationParams : public OperationParams {
 public:
  UninstallOperationParams(const std::string& removerCommand, const std::string& bundleId)
      : removerCommand(removerCommand), bundleId(bundleId) {}

  std::unique_ptr<OperationParams> Clone() const override {
    return std::make_unique<UninstallOperationParams>(*this);
  }

  std::string removerCommand;
  std::string bundleId;
};

#endif  // SKIFF_OPERATION_OPERATION_PARAMS_H_
