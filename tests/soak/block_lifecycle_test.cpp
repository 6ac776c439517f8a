// Many blocks, one after the other, as a host creates and deletes them while
// a project is edited: each one created, pointed at a board, run for a step
// and disposed.  Nothing may pile up: no descriptor, no heap, and port 1600
// must be free again once the last block is gone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>

#include "e2e_harness.h"
#include "process_usage.h"
#include "udp_peer.h"

namespace soak {
namespace {

constexpr int kBlocks = 100;
// Heap the C++ and GLib runtimes may keep between two points without any
// block alive; a block that leaks its endpoint, watch or state costs more
// than this in 100 rounds.
constexpr size_t kHeapNoiseBytes = 16 * 1024;

// True when a fresh socket can bind UDP port 1600 on every interface.
bool PortSixteenHundredIsFree() {
  try {
    harness::UdpPeer probe(harness::kAnyAddress, 1600);
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

// One block's life: created, configured, probed, one run of one step, gone.
void LiveOnce(int udp_port) {
  harness::LoadedBlock block(e2e::Module());
  harness::BlockSettings settings;
  settings.udp_port = udp_port;
  block.Configure(settings);
  ASSERT_EQ(e2e::Module().CanSimulateDLL(block.record()), 1);
  harness::Values inputs = harness::Values::Inputs(0.0L), outputs = harness::Values::Outputs(-1.0L);
  harness::SimulationRun run(&block);
  run.Init(&inputs, &outputs);
  run.Step(&inputs, &outputs);
  EXPECT_EQ(outputs[8], 100.0L) << "A0 came back from the board";
}

TEST(BlockLifecycleTest, HundredBlocksLeaveNoDescriptorHeapOrPortBehind) {
  const bool port_was_free = PortSixteenHundredIsFree();
  std::string error;
  std::optional<harness::ChildProcess> board = harness::TryStartBoardsim(
      BOARDSIM_PATH, {"--udp", "127.0.0.1:0", "--analog", "A0=const:100"}, &error);
  ASSERT_TRUE(board) << error;
  const int port = board->udp_port();

  // The first blocks load the library and start GLib's own state.
  for (int k = 0; k < 5; ++k) LiveOnce(port);
  const size_t descriptors = OpenDescriptors();
  const size_t heap = HeapInUse();
  const long resident = ResidentKiB();

  for (int k = 0; k < kBlocks; ++k) {
    SCOPED_TRACE("block " + std::to_string(k));
    LiveOnce(port);
    ASSERT_EQ(OpenDescriptors(), descriptors) << "a disposed block left a descriptor open";
  }

  EXPECT_EQ(OpenDescriptors(), descriptors);
  if (!kSanitized) {
    EXPECT_LE(static_cast<long long>(HeapInUse()) - static_cast<long long>(heap),
              static_cast<long long>(kHeapNoiseBytes));
  }
  std::printf("%d blocks: descriptors %zu -> %zu, heap %+lld bytes, resident %+ld KiB\n", kBlocks,
              descriptors, OpenDescriptors(),
              static_cast<long long>(HeapInUse()) - static_cast<long long>(heap),
              ResidentKiB() - resident);
  if (port_was_free) {
    EXPECT_TRUE(PortSixteenHundredIsFree()) << "the last block did not release port 1600";
  }
}

}  // namespace
}  // namespace soak
