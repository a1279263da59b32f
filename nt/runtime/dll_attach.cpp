// Compiled into each library built for the machine: its static initialiser
// attaches the library's DllMain to the process (see machine_runtime.h).
#include "kernel32_io.h"

extern "C" BOOL DllMain(HANDLE hModule, DWORD dwFunction, LPVOID lpNot);
extern "C" typedef BOOL (*NT_DLL_ENTRY)(HANDLE hModule, DWORD dwFunction, LPVOID lpNot);
extern "C" void nt_runtime_attach_library(NT_DLL_ENTRY entry);

namespace {
struct AttachAtLoad {
  AttachAtLoad() { nt_runtime_attach_library(&DllMain); }
} attach_at_load;
}  // namespace
