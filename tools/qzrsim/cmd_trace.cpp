// trace: runs another command and writes what it did on the SCSI bus as a
// VCD waveform. The boot's own bus scan is left out.
#include <cstdio>
#include <string>

#include "tools/qzrsim/commands.h"
#include "tools/qzrsim/session.h"

namespace qzr::qzrsim {
namespace {

constexpr const char* kUsage =
    "usage: qzrsim trace OUT.vcd -- COMMAND [ARGS]...\n"
    "\n"
    "Runs COMMAND (any qzrsim command) and writes every change of the SCSI bus\n"
    "lines it caused, with its virtual time in nanoseconds, to OUT.vcd (open it\n"
    "with gtkwave). The changes of the boot's bus scan are not included.\n"
    "\n"
    "Example: qzrsim trace inquiry.vcd -- exec --target 2 --in 36 12 00 00 00 24 00\n"
    "The exit code is the command's; 1 when the trace cannot be written.\n";

int run(Session& session, Args& args) {
  auto command = args.after_separator();
  const auto words = args.positionals();
  args.finish();
  if (words.size() != 1) throw UsageError{"give one output file"};
  if (command.empty()) throw UsageError{"give the command to trace after '--'"};

  std::string error;
  if (session.booted()) {
    session.machine(error)->machine.bus().trace().clear();
  } else {
    session.trace_command_only = true;
  }
  const int code = run_command_line(session, std::move(command));
  if (code == kExitUsage || !session.booted()) return code;

  const auto& trace = session.machine(error)->machine.bus().trace();
  if (!trace.write_vcd_file(words.front(), error)) return fail(kExitFailed, error);
  std::fflush(stdout);
  std::fprintf(stderr, "bus trace: %llu changes written to %s\n",
               static_cast<unsigned long long>(trace.entries().size()), words.front().c_str());
  return code;
}

}  // namespace

const Command kTraceCommand = {"trace", "run a command and write its bus trace as VCD", kUsage,
                               run};

}  // namespace qzr::qzrsim
