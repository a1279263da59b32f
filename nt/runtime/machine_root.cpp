#include "nt/runtime/machine_root.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include "hw/clock.h"

namespace qzr::nt::runtime {
namespace fs = std::filesystem;

namespace {

bool write_text(const fs::path& path, const std::string& text, std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out || !out.write(text.data(), static_cast<std::streamsize>(text.size())) || !out.flush()) {
    error = path.string() + ": cannot write: " + std::strerror(errno);
    return false;
  }
  return true;
}

bool read_text(const fs::path& path, std::string& text, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path.string() + ": cannot read: " + std::strerror(errno);
    return false;
  }
  std::ostringstream out;
  out << in.rdbuf();
  text = out.str();
  return true;
}

// The lock file, opened and locked; -1 with `error` set when another
// process (or another MachineRoot of this one) holds it.
int take_lock(const fs::path& dir, std::string& error) {
  const fs::path path = dir / MachineRoot::kLockFile;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = path.string() + ": cannot open the lock: " + std::strerror(errno);
    return -1;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int why = errno;
    char pid[32] = {};
    const ssize_t got = ::pread(fd, pid, sizeof pid - 1, 0);
    ::close(fd);
    if (why != EWOULDBLOCK) {
      error = path.string() + ": cannot lock: " + std::strerror(why);
      return -1;
    }
    std::string holder = got > 0 ? std::string(pid, static_cast<std::size_t>(got)) : "";
    while (!holder.empty() && (holder.back() == '\n' || holder.back() == ' ')) holder.pop_back();
    error = "machine root " + dir.string() + " is in use by " +
            (holder.empty() ? std::string("another process") : "process " + holder);
    return -1;
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0 ||
      ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    error = path.string() + ": cannot write the lock: " + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

void release_lock(int fd) {
  if (fd < 0) return;
  // The holder's id goes first, so nobody reads a stale one.
  if (::ftruncate(fd, 0) != 0) {
    // Nothing to do: the lock itself goes with the descriptor.
  }
  ::close(fd);
}

// Images a fresh root needs before its first boot: read-only discs are
// mastered (nothing else could make them), and every device is built once
// so that writable images exist and every mistake shows now, not at boot.
bool prepare_images(const MachineSettings& settings, std::string& error) {
  hw::Clock clock;
  for (const hw::TargetConfig& target : settings.targets) {
    for (const auto& [lun, device] : target.units) {
      const std::string where =
          "target " + std::to_string(target.settings.id) + " LUN " + std::to_string(lun) + ": ";
      if (device.image_path.empty()) continue;
      std::error_code ec;
      const fs::path image(device.image_path);
      if (device.kind != hw::DeviceConfig::Kind::Scanner) {
        fs::create_directories(image.parent_path(), ec);
        if (ec) {
          error = where + image.parent_path().string() + ": cannot create: " + ec.message();
          return false;
        }
      }
      const bool read_only_medium = device.kind == hw::DeviceConfig::Kind::CdRom ||
                                    device.kind == hw::DeviceConfig::Kind::WriteOnce;
      if (read_only_medium && !fs::exists(image, ec)) {
        const std::uint32_t block = device.block_bytes ? device.block_bytes : 2048;
        const std::uint64_t bytes =
            device.capacity_blocks ? device.capacity_blocks * block : 1 << 20;
        if (!hw::master_cdrom_image(image, static_cast<std::uint32_t>(bytes / 2048), "QZR_DEMO",
                                    error)) {
          error = where + error;
          return false;
        }
      }
      std::string why;
      if (!hw::make_logical_unit(device, why, &clock)) {
        error = where + why;
        return false;
      }
    }
  }
  return true;
}

}  // namespace

bool write_empty_hive(const fs::path& path, std::string& error) {
  return write_text(path, "REGEDIT4\r\n\r\n", error);
}

bool MachineRoot::create(const fs::path& dir, Source source, const fs::path& settings_file,
                         std::string& error) {
  std::error_code ec;
  if (dir.empty()) {
    error = "no machine root given";
    return false;
  }
  if (fs::exists(dir / kSettingsFile, ec)) {
    error = dir.string() + " already holds a machine root";
    return false;
  }
  const bool existed = fs::exists(dir, ec);
  if (existed && !fs::is_directory(dir, ec)) {
    error = dir.string() + " exists and is not a folder";
    return false;
  }
  if (existed && !fs::is_empty(dir, ec)) {
    error = dir.string() + " is not empty; a machine root is made in a new or empty folder";
    return false;
  }

  std::string text;
  std::string text_name = "default settings";
  switch (source) {
    case Source::Default:
      text = default_settings_text();
      break;
    case Source::Empty:
      text = empty_settings_text();
      break;
    case Source::SettingsFile:
      if (!read_text(settings_file, text, error)) return false;
      text_name = settings_file.string();
      break;
  }
  // The settings are checked before anything is made, against the new root.
  const fs::path absolute_dir = fs::absolute(dir, ec).lexically_normal();
  MachineSettings settings;
  if (!parse_settings(text, text_name, absolute_dir, settings, error)) return false;

  fs::create_directories(dir, ec);
  if (ec) {
    error = dir.string() + ": cannot create: " + ec.message();
    return false;
  }
  const int lock = take_lock(dir, error);
  if (lock < 0) return false;

  auto make = [&]() -> bool {
    const fs::path drivers = dir / kSystemRootDir / "System32" / "drivers";
    fs::create_directories(dir / kImagesDir, ec);
    if (!ec) fs::create_directories(drivers, ec);
    if (ec) {
      error = dir.string() + ": cannot create its folders: " + ec.message();
      return false;
    }
    if (!write_empty_hive(dir / kHiveFile, error)) return false;
    fs::copy_file(QZR_MINIPORT_MODULE, drivers / kMiniportImage,
                  fs::copy_options::overwrite_existing, ec);
    if (ec) {
      error = std::string("cannot copy the miniport ") + QZR_MINIPORT_MODULE + ": " + ec.message();
      return false;
    }
    if (!prepare_images(settings, error)) return false;
    // Last: a folder holding the settings file is a root.
    return write_text(dir / kSettingsFile, text, error);
  };
  const bool made = make();
  if (!made) {
    // The folder was new or empty: everything in it is ours.
    if (existed) {
      for (const auto& entry : fs::directory_iterator(dir, ec)) {
        if (entry.path().filename() != kLockFile) fs::remove_all(entry.path(), ec);
      }
    }
  }
  release_lock(lock);
  if (!made) {
    if (existed) {
      fs::remove(dir / kLockFile, ec);
    } else {
      fs::remove_all(dir, ec);
    }
  }
  return made;
}

std::unique_ptr<MachineRoot> MachineRoot::open(const fs::path& dir, std::string& error) {
  std::error_code ec;
  if (!fs::exists(dir / kSettingsFile, ec)) {
    error = dir.string() + " is not a machine root (it has no " + kSettingsFile + ")";
    return nullptr;
  }
  const int lock = take_lock(dir, error);
  if (lock < 0) return nullptr;
  std::unique_ptr<MachineRoot> root(
      new MachineRoot(fs::absolute(dir, ec).lexically_normal(), lock));
  if (!load_settings(root->settings_path(), root->dir_, root->settings_, error)) return nullptr;
  return root;
}

MachineRoot::~MachineRoot() {
  release_lock(lock_fd_);
}

fs::path default_machine_root() {
  auto set = [](const char* name) -> const char* {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
  };
  if (const char* machine = set("QZR_MACHINE")) return machine;
  // The XDG rules ignore a relative data home.
  if (const char* data = set("XDG_DATA_HOME"); data && *data == '/') {
    return fs::path(data) / "qzr" / "machine";
  }
  if (const char* home = set("HOME"))
    return fs::path(home) / ".local" / "share" / "qzr" / "machine";
  return {};
}

}  // namespace qzr::nt::runtime
