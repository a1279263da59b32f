// A miniport module loaded from a shared object, unloaded when it goes.
#pragma once

#include <string>

namespace qzr::nt::scsiport {

class MiniportModule {
 public:
  // Loads the module; on failure valid() is false and error() says why.
  explicit MiniportModule(const std::string& path);
  ~MiniportModule();
  MiniportModule(const MiniportModule&) = delete;
  MiniportModule& operator=(const MiniportModule&) = delete;

  bool valid() const { return handle_ != nullptr && driver_entry_ != nullptr; }
  const std::string& error() const { return error_; }
  const std::string& path() const { return path_; }
  void* driver_entry() const { return driver_entry_; }

 private:
  std::string path_;
  std::string error_;
  void* handle_ = nullptr;
  void* driver_entry_ = nullptr;
};

}  // namespace qzr::nt::scsiport
