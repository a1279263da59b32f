// printf as a Windows NT component sees it. Windows is LLP64: an 'l' length
// modifier names a 32-bit LONG/ULONG, so "%lx" must take an int-sized
// argument here, where long is 64 bits. The port driver's debug log and the
// recording double of the driver tests both format ScsiDebugPrint this way.
#pragma once

#include <cstdarg>
#include <string>

namespace qzr::nt {

std::string format_windows(const char* format, va_list arguments);

}  // namespace qzr::nt
