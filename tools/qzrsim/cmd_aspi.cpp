// aspi: what an ASPI client sees through torvik: the support info, the host
// adapter inquiry, and for each SCSI ID the way a command to it is served,
// found by asking as a client would (INQUIRY, then TEST UNIT READY).
#include <cstdio>
#include <string>

#include "tools/qzrsim/aspi_client.h"
#include "tools/qzrsim/commands.h"
#include "tools/qzrsim/json.h"
#include "tools/qzrsim/session.h"
#include "tools/qzrsim/text.h"

namespace qzr::qzrsim {
namespace {

constexpr const char* kUsage =
    "usage: qzrsim aspi [--json]\n"
    "\n"
    "Boots the machine, loads torvik as an ASPI client does and prints what the\n"
    "client sees: GetASPI32SupportInfo, the host adapter inquiry of adapter 0,\n"
    "and for each SCSI ID how a command to it is served: by pass-through to the\n"
    "scanner device, by torvik's copy of the bus scan (INQUIRY only), or refused.\n"
    "\n"
    "Exit 1 when torvik found no host adapter (no scanner on any port).\n";

enum class Route { PassThrough, Cached, Refused };

const char* route_text(Route route) {
  switch (route) {
    case Route::PassThrough:
      return "every command by pass-through to \\\\.\\scanner0";
    case Route::Cached:
      return "INQUIRY answered from torvik's copy of the bus scan; other commands SS_NO_DEVICE";
    case Route::Refused:
      return "every command SS_NO_DEVICE";
  }
  return "";
}

const char* route_key(Route route) {
  switch (route) {
    case Route::PassThrough:
      return "pass_through";
    case Route::Cached:
      return "inquiry_cache";
    case Route::Refused:
      return "refused";
  }
  return "";
}

std::string field(const UCHAR* bytes, std::size_t size) {
  return text_field(std::span<const std::uint8_t>(bytes, size), 0, size);
}

int run(Session& session, Args& args) {
  const bool json = args.flag("--json");
  args.finish();

  std::string error;
  if (!session.machine(error)) return fail(kExitMachine, error);
  const AspiLibrary* aspi = load_aspi(error);
  if (!aspi) return fail(kExitFailed, error);

  const ULONG support = aspi->GetASPI32SupportInfo();
  const unsigned adapters = support & 0xFFu;
  const unsigned support_status = (support >> 8) & 0xFFu;

  SRB_HAInquiry inquiry{};
  inquiry.SRB_Cmd = SC_HA_INQUIRY;
  const ULONG inquiry_status = aspi->SendASPI32Command(reinterpret_cast<LPSRB>(&inquiry));

  JsonWriter out;
  out.begin_object()
      .key("support_info")
      .value(std::uint64_t{support})
      .key("support_status")
      .value(aspi_status_name(support_status))
      .key("host_adapters")
      .value(adapters)
      .key("ha_inquiry")
      .begin_object()
      .key("status")
      .value(aspi_status_name(inquiry_status))
      .key("ha_count")
      .value(unsigned{inquiry.HA_Count})
      .key("ha_scsi_id")
      .value(unsigned{inquiry.HA_SCSI_ID})
      .key("manager_id")
      .value(field(inquiry.HA_ManagerId, sizeof inquiry.HA_ManagerId))
      .key("identifier")
      .value(field(inquiry.HA_Identifier, sizeof inquiry.HA_Identifier))
      .end_object()
      .key("targets")
      .begin_array();
  Table table({"ID", "type", "vendor", "product", "route"});
  // With no host adapter there is no adapter 0 to ask: a client stops here.
  for (std::uint8_t id = 0; adapters > 0 && id < 8; ++id) {
    SRB_ExecSCSICmd srb;
    std::uint8_t answer[36] = {};
    const std::uint8_t inquiry_cdb[6] = {0x12, 0, 0, 0, sizeof answer, 0};
    const ULONG inquiry_result =
        aspi_exec(*aspi, srb, id, inquiry_cdb, sizeof inquiry_cdb, answer, sizeof answer, true);
    const std::uint8_t ready_cdb[6] = {0x00, 0, 0, 0, 0, 0};
    const ULONG ready_result =
        aspi_exec(*aspi, srb, id, ready_cdb, sizeof ready_cdb, nullptr, 0, false);
    const Route route = ready_result != SS_NO_DEVICE     ? Route::PassThrough
                        : inquiry_result != SS_NO_DEVICE ? Route::Cached
                                                         : Route::Refused;
    const bool known = inquiry_result == SS_COMP;
    const std::span<const std::uint8_t> data(answer);
    table.add({std::to_string(id), known ? device_type_name(answer[0] & 0x1Fu) : "-",
               known ? text_field(data, 8, 8) : "", known ? text_field(data, 16, 16) : "",
               route_text(route)});
    out.begin_object()
        .key("id")
        .value(unsigned{id})
        .key("inquiry_status")
        .value(aspi_status_name(inquiry_result));
    if (known) {
      out.key("type")
          .value(unsigned{answer[0] & 0x1Fu})
          .key("vendor")
          .value(text_field(data, 8, 8))
          .key("product")
          .value(text_field(data, 16, 16));
    }
    out.key("route").value(route_key(route)).end_object();
  }
  out.end_array().end_object();

  if (json) {
    std::fputs(out.text().c_str(), stdout);
  } else {
    std::printf("GetASPI32SupportInfo: 0x%04lX (%s, %u host adapter%s)\n",
                static_cast<unsigned long>(support), aspi_status_name(support_status).c_str(),
                adapters, adapters == 1 ? "" : "s");
    std::printf("SC_HA_INQUIRY adapter 0: %s, HA_Count %u, HA_SCSI_ID %u\n",
                aspi_status_name(inquiry_status).c_str(), inquiry.HA_Count, inquiry.HA_SCSI_ID);
    std::printf("  manager \"%s\", adapter \"%s\"\n",
                field(inquiry.HA_ManagerId, sizeof inquiry.HA_ManagerId).c_str(),
                field(inquiry.HA_Identifier, sizeof inquiry.HA_Identifier).c_str());
    if (adapters > 0) {
      std::fputs(table.text("  ").c_str(), stdout);
    } else {
      std::printf("no host adapter: torvik found no SCSI port with a scanner\n");
    }
  }
  return adapters > 0 ? kExitOk : kExitFailed;
}

}  // namespace

const Command kAspiCommand = {"aspi", "print what an ASPI client sees through torvik", kUsage, run};

}  // namespace qzr::qzrsim
