// Many blocks, one after the other, as a host creates and deletes them while
// a project is edited: each one created, pointed at a board, run for a step
// and disposed.  Nothing may pile up: no descriptor, no heap, and port 1600
// must be free again once the last block is gone.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>

#include "child_process.h"
#include "loaded_block.h"
#include "process_usage.h"

namespace soak {
namespace {

constexpr int kBlocks = 100;
// Heap the C++ and GLib runtimes may keep between two points without any
// block alive; a block that leaks its endpoint, watch or state costs more
// than this in 100 rounds.
constexpr size_t kHeapNoiseBytes = 16 * 1024;

// True when a fresh socket can bind UDP port 1600 on every interface.
bool PortSixteenHundredIsFree() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(1600);
  const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return bound;
}

// One block's life: created, configured, probed, one run of one step, gone.
void LiveOnce(int udp_port) {
  e2e::LoadedBlock block;
  e2e::Settings settings;
  settings.udp_port = udp_port;
  block.Configure(settings);
  ASSERT_EQ(e2e::Module().can_simulate(block.record()), 1);
  e2e::Values inputs(8, 0.0L), outputs(14, -1.0L);
  e2e::SimulationRun run(&block);
  run.Init(&inputs, &outputs);
  run.Step(&inputs, &outputs);
  EXPECT_EQ(outputs[8], 100.0L) << "A0 came back from the board";
}

TEST(BlockLifecycleTest, HundredBlocksLeaveNoDescriptorHeapOrPortBehind) {
  const bool port_was_free = PortSixteenHundredIsFree();
  std::string error;
  std::optional<e2e::BackgroundProcess> board = e2e::BackgroundProcess::Start(
      {BOARDSIM_PATH, "--udp", "127.0.0.1:0", "--analog", "A0=const:100"}, &error);
  ASSERT_TRUE(board) << error;
  const std::string& line = board->first_line();
  const int port = std::stoi(line.substr(line.rfind(':') + 1));

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
