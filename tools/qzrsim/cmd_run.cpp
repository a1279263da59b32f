// run: starts a windowed program on the root. The program reads its root
// and its script from the environment (nt/user's WinMain host), so the
// tool only sets them and gives the process over to it.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/qzrsim/commands.h"
#include "tools/qzrsim/session.h"

namespace qzr::qzrsim {
namespace {

constexpr const char* kUsage =
    "usage: qzrsim run PROGRAM [--do ACTION]... [--screenshot FILE]\n"
    "\n"
    "Runs a windowed program on the machine root: PROGRAM is a path, or the\n"
    "name of a program in the build tree (e.g. winsample). The root, the\n"
    "actions and the screenshot reach it as QZR_MACHINE, QZR_DO (actions\n"
    "separated by ';') and QZR_SCREENSHOT. Headless unless DISPLAY is set.\n"
    "\n"
    "  --do ACTION        a scripted action: menu:File/About..., button:TEXT,\n"
    "                     click:X,Y, key:NAME, alt:C, wait:MS,\n"
    "                     screenshot:FILE\n"
    "  --screenshot FILE  a PNG of the screen when the script is done\n"
    "\n"
    "The exit code is the program's. The windowed programs of the build tree\n"
    "exist in the 64-bit build only.\n";

// A program of the build tree by name: the first executable file with that
// name, searched breadth-first so the shallowest wins.
std::filesystem::path find_program(const std::string& name) {
  namespace fs = std::filesystem;
  std::vector<fs::path> level = {QZR_BUILD_DIR};
  for (int depth = 0; depth < 6 && !level.empty(); ++depth) {
    std::vector<fs::path> next;
    for (const auto& dir : level) {
      std::error_code ec;
      for (const auto& entry : fs::directory_iterator(dir, ec)) {
        const auto& path = entry.path();
        if (entry.is_directory(ec)) {
          if (path.filename() != "CMakeFiles") next.push_back(path);
        } else if (path.filename() == name && entry.is_regular_file(ec) &&
                   access(path.c_str(), X_OK) == 0) {
          return path;
        }
      }
    }
    level = std::move(next);
  }
  return {};
}

int run(Session& session, Args& args) {
  const auto actions = args.options("--do");
  const auto screenshot = args.option("--screenshot");
  const auto words = args.positionals();
  args.finish();
  if (words.size() != 1) throw UsageError{"give one program"};
  for (const auto& action : actions) {
    if (action.find(';') != std::string::npos) {
      throw UsageError{"an action cannot hold ';': '" + action + "'"};
    }
  }
  const std::string& name = words.front();
  const std::filesystem::path program =
      name.find('/') != std::string::npos ? std::filesystem::path(name) : find_program(name);
  if (program.empty() || access(program.c_str(), X_OK) != 0) {
    return fail(kExitFailed, "no program '" + name + "' (not a path, and not in " +
                                 std::string(QZR_BUILD_DIR) + ")");
  }
  std::error_code ec;
  const auto root = std::filesystem::absolute(session.root(), ec);
  if (ec || !std::filesystem::is_directory(root, ec)) {
    return fail(kExitMachine, "no machine root at " + session.root().string() +
                                  " (create one with 'qzrsim init')");
  }
  std::string script;
  for (const auto& action : actions) script += (script.empty() ? "" : ";") + action;
  setenv("QZR_MACHINE", root.c_str(), 1);
  if (actions.empty()) {
    unsetenv("QZR_DO");
  } else {
    setenv("QZR_DO", script.c_str(), 1);
  }
  if (screenshot) {
    setenv("QZR_SCREENSHOT", screenshot->c_str(), 1);
  } else {
    unsetenv("QZR_SCREENSHOT");
  }
  std::fflush(stdout);
  const std::string path = program.string();
  char* const argv[] = {const_cast<char*>(path.c_str()), nullptr};
  execv(path.c_str(), argv);
  return fail(kExitFailed, "cannot run " + path + ": " + std::strerror(errno));
}

}  // namespace

const Command kRunCommand = {"run", "run a windowed program on the machine root", kUsage, run};

}  // namespace qzr::qzrsim
