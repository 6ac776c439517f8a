// The switches between the host's floating-point state and the block's,
// around an export and around host code that a wait dispatches from inside
// one, on the x87 unit and SSE themselves.
#include "base/float_state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>

#if defined(__i386__) || defined(__x86_64__)

namespace arduino {
namespace {

// What code can see of the state: the control word, the exception flags of
// the status word, and MXCSR.
constexpr uint16_t kBlockControl = 0x037F;
constexpr uint32_t kBlockMxcsr = 0x1F80;
constexpr uint16_t kExceptionFlags = 0x3F;

struct Seen {
  uint16_t control, status;
  uint32_t mxcsr;
  bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& seen) {
  return out << std::hex << "{control " << seen.control << ", status " << seen.status << ", mxcsr "
             << seen.mxcsr << "}";
}

Seen Current() {
  Seen seen{};
  asm volatile("fnstcw %0" : "=m"(seen.control));
  asm volatile("fnstsw %0" : "=m"(seen.status));
  asm volatile("stmxcsr %0" : "=m"(seen.mxcsr));
  seen.status &= kExceptionFlags;
  return seen;
}

void Put(uint16_t control, uint32_t mxcsr) {
  asm volatile("fnclex" ::: "memory");
  asm volatile("fldcw %0" ::"m"(control));
  asm volatile("ldmxcsr %0" ::"m"(mxcsr));
}

// Raises the x87 precision flag, masked, as host code that rounds a value
// would.
void RaiseInexact() {
  volatile long double third = 1.0L;
  third = third / 3.0L;
}

// Puts back the test program's own state, whatever a case left in force.
class FloatStateTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = Current(); }
  void TearDown() override { Put(saved_.control, saved_.mxcsr); }

 private:
  Seen saved_{};
};

struct HostState {
  const char* name;
  uint16_t control;
  uint32_t mxcsr;
};

// The same as the block's, one that only differs in precision, and a
// Pascal host's with three exceptions unmasked in both units.
const HostState kHosts[] = {
    {"the block's own", kBlockControl, kBlockMxcsr},
    {"53-bit precision", 0x027F, kBlockMxcsr},
    {"Pascal's", 0x1332, 0x1900},
};

TEST_F(FloatStateTest, HostCodeRunsUnderTheHostsStateAndTheBlocksComesBack) {
  for (const HostState& host : kHosts) {
    Put(host.control, host.mxcsr);
    const Seen before = Current();
    Seen in_export{}, in_host_code{}, after_host_code{};
    {
      HostFloatState export_state;
      in_export = Current();
      {
        HostCodeScope host_code;
        in_host_code = Current();
      }
      after_host_code = Current();
    }
    EXPECT_EQ(in_export, (Seen{kBlockControl, 0, kBlockMxcsr})) << host.name;
    EXPECT_EQ(in_host_code, before) << host.name;
    EXPECT_EQ(after_host_code, in_export) << host.name;
    EXPECT_EQ(Current(), before) << host.name;
  }
}

// Whatever the host's code changes, even where the host's state was the
// block's to begin with, is the host's from then on and never the block's.
TEST_F(FloatStateTest, WhatHostCodeChangesStaysTheHostsAlone) {
  const struct {
    const char* name;
    void (*change)();
  } changes[] = {
      {"precision", [] { Put(0x027F, kBlockMxcsr); }},
      {"a flag raised", RaiseInexact},
      {"SSE flush to zero", [] { Put(kBlockControl, kBlockMxcsr | 0x8000); }},
  };
  for (const HostState& host : kHosts) {
    for (const auto& change : changes) {
      Put(host.control, host.mxcsr);
      Seen changed_by_host{}, after_host_code{};
      {
        HostFloatState export_state;
        {
          HostCodeScope host_code;
          change.change();
          changed_by_host = Current();
        }
        after_host_code = Current();
      }
      EXPECT_EQ(after_host_code, (Seen{kBlockControl, 0, kBlockMxcsr}))
          << host.name << ", " << change.name;
      EXPECT_EQ(Current(), changed_by_host) << host.name << ", " << change.name;
    }
  }
}

}  // namespace
}  // namespace arduino

#else

TEST(FloatStateTest, NeedsAnX86Processor) { GTEST_SKIP() << "x87 state is x86 only"; }

#endif
