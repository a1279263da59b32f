// The command line of qzrsim: exit codes, the command table and a small
// argument reader that every command uses the same way.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qzr::qzrsim {

// What the exit code tells a script.
enum Exit : int {
  kExitOk = 0,
  kExitFailed = 1,   // the command ran and failed: no port device, no answer, a bad status
  kExitUsage = 2,    // unknown command or option, a missing or malformed argument
  kExitMachine = 3,  // the machine cannot be used: no root, in use, bad settings, no boot
};

// A mistake on the command line; main prints it with the command's usage.
struct UsageError {
  std::string message;
};

// The arguments of one command, taken as the command asks for them; what is
// left at the end is a mistake. Everything after "--" is positional.
class Args {
 public:
  explicit Args(std::vector<std::string> words);

  bool flag(std::string_view name);
  std::optional<std::string> option(std::string_view name);
  std::vector<std::string> options(std::string_view name);
  // Positional words in order; any option not taken by now is unknown.
  std::vector<std::string> positionals();
  // The words after "--", untouched.
  std::vector<std::string> after_separator();
  // Throws UsageError when anything was not taken.
  void finish();

 private:
  std::vector<std::string> words_;
  std::vector<std::string> tail_;
  bool has_separator_ = false;
};

// Numbers as a user writes them: decimal or 0x-hexadecimal, within [0, max].
std::uint64_t parse_number(std::string_view what, std::string_view text, std::uint64_t max);

class Session;

struct Command {
  const char* name;
  const char* summary;  // one line for the tool's help
  const char* usage;    // the command's --help text
  int (*run)(Session& session, Args& args);
};

// Every command, in the order the tool's help lists them.
const std::vector<Command>& commands();
const Command* find_command(std::string_view name);
// Runs a command line (a command and its arguments) on the session: the
// entry for main and for the commands that run another one (trace, log).
int run_command_line(Session& session, std::vector<std::string> words);

}  // namespace qzr::qzrsim
