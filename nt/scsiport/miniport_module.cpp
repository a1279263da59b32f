#include "nt/scsiport/miniport_module.h"

#include <dlfcn.h>

namespace qzr::nt::scsiport {

MiniportModule::MiniportModule(const std::string& path) : path_(path) {
  // RTLD_NOW: an unresolved service shows up here, not mid-request.
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    error_ = "cannot load miniport " + path + ": " + (why ? why : "unknown reason");
    return;
  }
  dlerror();
  driver_entry_ = dlsym(handle_, "DriverEntry");
  if (driver_entry_ == nullptr) error_ = "miniport " + path + " exports no DriverEntry";
}

MiniportModule::~MiniportModule() {
  if (handle_ != nullptr) dlclose(handle_);
}

}  // namespace qzr::nt::scsiport
