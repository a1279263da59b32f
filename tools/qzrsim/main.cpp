// qzrsim: the simulated machine from the command line. Creates a machine
// root, installs the driver as the installer would, and looks at the bus
// through the port driver, the NT device interface and torvik.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/qzrsim/cli.h"
#include "tools/qzrsim/commands.h"
#include "tools/qzrsim/session.h"

namespace qzr::qzrsim {
namespace {

constexpr const char* kToolUsage =
    "usage: qzrsim [--machine DIR] COMMAND [ARGS]...\n"
    "       qzrsim COMMAND --help\n"
    "\n"
    "The simulated Windows NT machine with the QZR6140 board, kept in a machine\n"
    "root: its settings, registry, images and driver folder. Every command\n"
    "boots the root's machine afresh, as a program started on it would.\n"
    "\n"
    "Commands:\n";

constexpr const char* kToolOptions =
    "\n"
    "Options (also after the command):\n"
    "  --machine DIR   the machine root; default $QZR_MACHINE, else\n"
    "                  $XDG_DATA_HOME/qzr/machine (~/.local/share/qzr/machine)\n"
    "  --help          this text, or a command's own\n"
    "\n"
    "Exit codes:\n"
    "  0  success\n"
    "  1  the command ran and failed: no port device, a target that does not\n"
    "     answer, a status other than GOOD, an ASPI error, a file not written,\n"
    "     init on a folder that is not empty; trace, log and run give the\n"
    "     exit code of what they ran\n"
    "  2  usage error: unknown command or option, a missing or bad argument\n"
    "  3  the machine cannot be used: no root, root in use, bad settings, no boot\n";

void print_tool_usage(std::FILE* out) {
  std::fputs(kToolUsage, out);
  for (const auto& command : commands())
    std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
  std::fputs(kToolOptions, out);
}

}  // namespace

const std::vector<Command>& commands() {
  static const std::vector<Command> all = {kInitCommand,  kInstallCommand, kScanCommand,
                                           kAspiCommand,  kExecCommand,    kScanImageCommand,
                                           kTraceCommand, kLogCommand,     kRunCommand};
  return all;
}

const Command* find_command(std::string_view name) {
  for (const auto& command : commands()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

int run_command_line(Session& session, std::vector<std::string> words) {
  if (words.empty()) throw UsageError{"a command is missing"};
  const Command* command = find_command(words.front());
  if (!command) throw UsageError{"unknown command '" + words.front() + "'"};
  words.erase(words.begin());
  Args args(std::move(words));
  try {
    if (args.flag("--help") || args.flag("-h")) {
      std::fputs(command->usage, stdout);
      return kExitOk;
    }
    if (auto root = args.option("--machine")) session.choose_root(*root);
    return command->run(session, args);
  } catch (const UsageError& mistake) {
    std::fprintf(stderr, "qzrsim %s: %s\nTry 'qzrsim %s --help'.\n", command->name,
                 mistake.message.c_str(), command->name);
    return kExitUsage;
  }
}

}  // namespace qzr::qzrsim

int main(int argc, char** argv) {
  using namespace qzr::qzrsim;
  std::vector<std::string> words(argv + 1, argv + argc);
  Session session;
  // Options before the command belong to the tool.
  while (!words.empty() && words.front().starts_with("-")) {
    const std::string option = words.front();
    if (option == "--help" || option == "-h") {
      print_tool_usage(stdout);
      return kExitOk;
    }
    if (option == "--machine") {
      if (words.size() < 2) {
        std::fprintf(stderr, "qzrsim: --machine needs a value\n");
        return kExitUsage;
      }
      session.choose_root(words[1]);
      words.erase(words.begin(), words.begin() + 2);
      continue;
    }
    std::fprintf(stderr, "qzrsim: unknown option '%s'\nTry 'qzrsim --help'.\n", option.c_str());
    return kExitUsage;
  }
  if (words.empty()) {
    print_tool_usage(stderr);
    return kExitUsage;
  }
  try {
    return session.finish(run_command_line(session, std::move(words)));
  } catch (const UsageError& mistake) {
    std::fprintf(stderr, "qzrsim: %s\nTry 'qzrsim --help'.\n", mistake.message.c_str());
    return kExitUsage;
  }
}
