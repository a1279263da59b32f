#include "hw/scsi_bus.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace qzr::hw {
namespace {

struct Recorder : BusAgent {
  std::vector<std::pair<BusState, BusState>> changes;
  void on_bus_change(const BusState& before, const BusState& now) override {
    changes.emplace_back(before, now);
  }
};

TEST(ScsiBus, LinesAreTheWiredOrOfEveryDriver) {
  Clock clock;
  ScsiBus bus(clock);
  auto a = bus.attach("a", nullptr);
  auto b = bus.attach("b", nullptr);
  bus.drive(a, sig::BSY, 0x80);
  bus.drive(b, sig::BSY | sig::SEL, 0x01);
  EXPECT_EQ(bus.state().signals, sig::BSY | sig::SEL);
  EXPECT_EQ(bus.state().data, 0x81);
  bus.release(b);
  EXPECT_EQ(bus.state().signals, sig::BSY);  // a still holds BSY
  EXPECT_EQ(bus.state().data, 0x80);
  bus.release(a);
  EXPECT_EQ(bus.state(), BusState{});
}

TEST(ScsiBus, AgentsHearEveryChangeAndMayAnswerAtTheSameInstant) {
  Clock clock;
  ScsiBus bus(clock);
  // A responder that answers REQ with ACK from inside the notification.
  struct Responder : BusAgent {
    ScsiBus* bus;
    ScsiBus::AgentId id;
    void on_bus_change(const BusState&, const BusState& now) override {
      bus->drive_signals(id, now.has(sig::REQ) ? sig::ACK : 0);
    }
  } responder;
  Recorder recorder;
  responder.bus = &bus;
  responder.id = bus.attach("responder", &responder);
  bus.attach("recorder", &recorder);
  auto target = bus.attach("target", nullptr);

  bus.drive_signals(target, sig::REQ);
  EXPECT_EQ(bus.state().signals, sig::REQ | sig::ACK);
  ASSERT_EQ(recorder.changes.size(), 2u);
  EXPECT_EQ(recorder.changes[0].second.signals, sig::REQ);
  EXPECT_EQ(recorder.changes[1].second.signals, sig::REQ | sig::ACK);
}

TEST(ScsiBus, PhaseDecodingMatchesTargetCommandCoding) {
  struct Case {
    std::uint16_t signals;
    Phase phase;
  } cases[] = {
      {0, Phase::DataOut},
      {sig::IO, Phase::DataIn},
      {sig::CD, Phase::Command},
      {sig::CD | sig::IO, Phase::Status},
      {sig::MSG | sig::CD, Phase::MessageOut},
      {sig::MSG | sig::CD | sig::IO, Phase::MessageIn},
  };
  for (const auto& c : cases) {
    BusState s{static_cast<std::uint16_t>(c.signals | sig::BSY | sig::REQ), 0};
    EXPECT_EQ(s.phase(), c.phase) << phase_name(c.phase);
    EXPECT_EQ(phase_signals(c.phase), c.signals) << phase_name(c.phase);
  }
  EXPECT_EQ(signal_names(sig::BSY | sig::REQ | sig::IO), "BSY REQ I/O");
  EXPECT_EQ(signal_names(0), "-");
}

TEST(BusTrace, RecordsEveryChangeWithItsTimeAndWritesVcd) {
  Clock clock;
  ScsiBus bus(clock);
  auto a = bus.attach("a", nullptr);
  clock.advance_to(100);
  bus.drive(a, sig::BSY, 0x80);
  bus.drive(a, sig::BSY, 0x80);  // no change, no entry
  clock.advance_to(250);
  bus.drive(a, sig::BSY | sig::SEL, 0x81);
  const auto& e = bus.trace().entries();
  ASSERT_EQ(e.size(), 3u);  // the initial state and two changes
  EXPECT_EQ(e[1].time_ns, 100u);
  EXPECT_EQ(e[2].signals, sig::BSY | sig::SEL);
  EXPECT_EQ(e[2].data, 0x81);

  std::ostringstream vcd;
  ASSERT_TRUE(bus.trace().write_vcd(vcd));
  const std::string text = vcd.str();
  EXPECT_NE(text.find("$timescale 1ns $end"), std::string::npos);
  EXPECT_NE(text.find("$var wire 8 # DB[7:0] $end"), std::string::npos);
  EXPECT_NE(text.find("#250\n1\"\nb10000001 #\n"), std::string::npos) << text;
}

TEST(BusTrace, HashCoversChangesBeyondTheRetentionLimit) {
  BusTrace kept, limited, other;
  limited.set_retention_limit(2);
  for (TimeNs t = 0; t < 10; ++t) {
    kept.record(t, sig::REQ, static_cast<std::uint8_t>(t));
    limited.record(t, sig::REQ, static_cast<std::uint8_t>(t));
    other.record(t, sig::REQ, static_cast<std::uint8_t>(t == 9 ? 0 : t));
  }
  EXPECT_EQ(limited.entries().size(), 2u);
  EXPECT_EQ(limited.dropped(), 8u);
  EXPECT_EQ(kept.hash(), limited.hash());
  EXPECT_NE(kept.hash(), other.hash());
}

}  // namespace
}  // namespace qzr::hw
