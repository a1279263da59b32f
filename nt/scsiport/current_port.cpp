#include "nt/scsiport/current_port.h"

namespace qzr::nt::scsiport {
namespace {

CurrentPort g_current;

}  // namespace

const CurrentPort& current_port() {
  return g_current;
}

MiniportCall::MiniportCall(PortDriver& driver, PortDevice* device) : saved_(g_current) {
  g_current = CurrentPort{&driver, device};
}

MiniportCall::~MiniportCall() {
  g_current = saved_;
}

}  // namespace qzr::nt::scsiport
