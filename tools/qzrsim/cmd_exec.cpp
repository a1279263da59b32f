// exec: one SCSI request through the port device \\.\scsi0:, sent as an
// application sends it: CreateFileA and IOCTL_SCSI_PASS_THROUGH_DIRECT.
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kernel32_io.h"
#include "ntddscsi.h"
#include "scsi.h"
#include "tools/qzrsim/commands.h"
#include "tools/qzrsim/json.h"
#include "tools/qzrsim/session.h"
#include "tools/qzrsim/text.h"

namespace qzr::qzrsim {
namespace {

constexpr const char* kUsage =
    "usage: qzrsim exec --target N [--lun L] [--in BYTES | --out FILE] [--data-out FILE]\n"
    "                   [--timeout S] [--json] CDB-BYTE...\n"
    "\n"
    "Sends one command to target N (0-7) through \\\\.\\scsi0: with\n"
    "IOCTL_SCSI_PASS_THROUGH_DIRECT, and prints the SCSI status, the sense data\n"
    "after CHECK CONDITION, and the data read as a hex dump. CDB bytes are\n"
    "hexadecimal (12 or 0x12), 1 to 16 of them.\n"
    "\n"
    "  --in BYTES       read up to BYTES bytes from the target\n"
    "  --out FILE       send the contents of FILE to the target\n"
    "  --data-out FILE  write the data read to FILE instead of dumping it\n"
    "  --timeout S      seconds before the port driver gives up (default 10)\n"
    "  --json           one JSON object\n"
    "\n"
    "Example: qzrsim exec --target 2 --in 36 12 00 00 00 24 00   (INQUIRY)\n"
    "Exit 1 when the target does not answer or ends with a status other than GOOD.\n";

constexpr std::uint64_t kMaxTransferBytes = 16u << 20;

struct PassThrough {
  SCSI_PASS_THROUGH_DIRECT sptd;
  ULONG filler;
  UCHAR sense[32];
};

const char* status_name(unsigned status) {
  switch (status) {
    case SCSISTAT_GOOD:
      return "GOOD";
    case SCSISTAT_CHECK_CONDITION:
      return "CHECK CONDITION";
    case SCSISTAT_CONDITION_MET:
      return "CONDITION MET";
    case SCSISTAT_BUSY:
      return "BUSY";
    case SCSISTAT_INTERMEDIATE:
      return "INTERMEDIATE";
    case SCSISTAT_RESERVATION_CONFLICT:
      return "RESERVATION CONFLICT";
    case SCSISTAT_COMMAND_TERMINATED:
      return "COMMAND TERMINATED";
    case SCSISTAT_QUEUE_FULL:
      return "QUEUE FULL";
    default:
      return "unknown status";
  }
}

std::string failure_text(DWORD error, unsigned target) {
  switch (error) {
    case ERROR_SEM_TIMEOUT:
      return "no answer from target " + std::to_string(target) + " (time-out)";
    case ERROR_IO_DEVICE:
      return "the request ended without a status from the target (bus reset or a broken phase)";
    case ERROR_INVALID_PARAMETER:
      return "the port driver refused the request as invalid (too long a transfer?)";
    default:
      return "DeviceIoControl failed with error " + std::to_string(error);
  }
}

int run(Session& session, Args& args) {
  const auto target_text = args.option("--target");
  const auto lun_text = args.option("--lun");
  const auto in_text = args.option("--in");
  const auto out_file = args.option("--out");
  const auto data_file = args.option("--data-out");
  const auto timeout_text = args.option("--timeout");
  const bool json = args.flag("--json");
  const auto cdb_words = args.positionals();
  args.finish();

  if (!target_text) throw UsageError{"--target is missing"};
  if (in_text && out_file) throw UsageError{"--in and --out exclude each other"};
  if (data_file && !in_text) throw UsageError{"--data-out needs --in"};
  if (cdb_words.empty() || cdb_words.size() > 16) throw UsageError{"give 1 to 16 CDB bytes"};
  const auto target = static_cast<unsigned>(parse_number("--target", *target_text, 7));
  const auto lun = static_cast<unsigned>(lun_text ? parse_number("--lun", *lun_text, 7) : 0);
  const auto timeout_s =
      static_cast<ULONG>(timeout_text ? parse_number("--timeout", *timeout_text, 108000) : 10);
  std::vector<std::uint8_t> cdb;
  for (const auto& word : cdb_words) {
    const std::string hex = word.starts_with("0x") || word.starts_with("0X") ? word : "0x" + word;
    cdb.push_back(static_cast<std::uint8_t>(parse_number("a CDB byte", hex, 0xFF)));
  }

  std::vector<std::uint8_t> data;
  if (in_text) data.resize(parse_number("--in", *in_text, kMaxTransferBytes));
  if (out_file) {
    std::ifstream file(*out_file, std::ios::binary);
    if (!file) return fail(kExitFailed, "cannot read " + *out_file);
    data.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (data.size() > kMaxTransferBytes) return fail(kExitFailed, *out_file + " is too large");
  }

  std::string error;
  if (!session.machine(error)) return fail(kExitMachine, error);
  if (!session.port(error)) return fail(kExitFailed, error);

  HANDLE port = CreateFileA("\\\\.\\scsi0:", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    return fail(kExitFailed,
                "cannot open \\\\.\\scsi0: (error " + std::to_string(GetLastError()) + ")");
  }
  PassThrough request{};
  request.sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
  request.sptd.TargetId = static_cast<UCHAR>(target);
  request.sptd.Lun = static_cast<UCHAR>(lun);
  request.sptd.CdbLength = static_cast<UCHAR>(cdb.size());
  request.sptd.SenseInfoLength = sizeof request.sense;
  request.sptd.SenseInfoOffset = offsetof(PassThrough, sense);
  request.sptd.DataIn =
      in_text ? SCSI_IOCTL_DATA_IN : (out_file ? SCSI_IOCTL_DATA_OUT : SCSI_IOCTL_DATA_UNSPECIFIED);
  request.sptd.DataTransferLength = static_cast<ULONG>(data.size());
  request.sptd.DataBuffer = data.empty() ? nullptr : data.data();
  request.sptd.TimeOutValue = timeout_s;
  std::copy(cdb.begin(), cdb.end(), request.sptd.Cdb);
  DWORD returned = 0;
  const BOOL sent = DeviceIoControl(port, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request,
                                    &request, sizeof request, &returned, nullptr);
  const DWORD last_error = sent ? 0 : GetLastError();
  CloseHandle(port);

  const unsigned status = request.sptd.ScsiStatus;
  const std::size_t moved = sent ? request.sptd.DataTransferLength : 0;
  const std::span<const std::uint8_t> sense(
      request.sense, sent && status == SCSISTAT_CHECK_CONDITION ? request.sptd.SenseInfoLength : 0);
  const std::span<const std::uint8_t> data_in(data.data(), in_text ? moved : 0);

  if (sent && data_file) {
    std::ofstream file(*data_file, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data_in.data()),
               static_cast<std::streamsize>(data_in.size()));
    if (!file.flush()) return fail(kExitFailed, "cannot write " + *data_file);
  }

  if (json) {
    JsonWriter out;
    out.begin_object()
        .key("target")
        .value(target)
        .key("lun")
        .value(lun)
        .key("cdb")
        .bytes(cdb.data(), cdb.size())
        .key("completed")
        .value(sent != 0);
    if (!sent) {
      out.key("error")
          .value(failure_text(last_error, target))
          .key("win32_error")
          .value(std::uint64_t{last_error});
    } else {
      out.key("scsi_status")
          .value(status)
          .key("status_name")
          .value(status_name(status))
          .key("bytes")
          .value(std::uint64_t{moved});
      if (in_text && !data_file) out.key("data").bytes(data_in.data(), data_in.size());
      if (!sense.empty()) {
        out.key("sense")
            .bytes(sense.data(), sense.size())
            .key("sense_text")
            .value(describe_sense(sense));
      }
    }
    out.end_object();
    std::fputs(out.text().c_str(), stdout);
  } else if (!sent) {
    std::printf("target %u LUN %u, CDB %s: %s\n", target, lun, hex_bytes(cdb).c_str(),
                failure_text(last_error, target).c_str());
  } else {
    std::printf("target %u LUN %u, CDB %s: status %s %s, %zu bytes %s\n", target, lun,
                hex_bytes(cdb).c_str(), hex8(status).c_str(), status_name(status), moved,
                in_text ? "in" : (out_file ? "out" : "moved"));
    if (!sense.empty()) {
      std::printf("sense: %s\n  %s\n", describe_sense(sense).c_str(), hex_bytes(sense).c_str());
    }
    if (data_file) {
      std::printf("data written to %s\n", data_file->c_str());
    } else if (!data_in.empty()) {
      std::fputs(hex_dump(data_in).c_str(), stdout);
    }
  }
  return sent && status == SCSISTAT_GOOD ? kExitOk : kExitFailed;
}

}  // namespace

const Command kExecCommand = {"exec", "send one SCSI command through \\\\.\\scsi0:", kUsage, run};

}  // namespace qzr::qzrsim
