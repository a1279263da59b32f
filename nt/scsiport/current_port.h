// The ScsiPort services are free functions and most of them (port accesses,
// stalls) carry no extension, so the port driver names the machine and the
// device it is calling into here, for the length of each call. Calls nest
// and restore what they found, so several machines in one process (tests)
// never see each other's calls.
#pragma once

namespace qzr::nt::scsiport {

class PortDriver;
class PortDevice;

struct CurrentPort {
  PortDriver* driver = nullptr;
  PortDevice* device = nullptr;  // none during DriverEntry
};

// What the miniport is running under; driver is null outside any call.
const CurrentPort& current_port();

class MiniportCall {
 public:
  MiniportCall(PortDriver& driver, PortDevice* device);
  ~MiniportCall();
  MiniportCall(const MiniportCall&) = delete;
  MiniportCall& operator=(const MiniportCall&) = delete;

 private:
  CurrentPort saved_;
};

}  // namespace qzr::nt::scsiport
