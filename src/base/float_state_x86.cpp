// The x87 unit and SSE on x86, in 32-bit and 64-bit code alike.  The 80-bit
// values are x87 values, so the x87 control word matters most; SSE has its
// own control register (MXCSR), which Pascal hosts set too ($1900 unmasks
// the same three exceptions), and which the C runtime's code may use.
//
// These functions are never inlined into their callers: at a call the x87
// register stack is empty by the calling convention, so loading a saved
// environment, tag word included, cannot disturb a value the compiler keeps
// in a register.
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "base/float_state.h"

namespace arduino {
namespace {

// All six exceptions masked, 64-bit precision, rounding to nearest: the
// state the 80-bit values and the conversions are written for.
constexpr uint16_t kBlockControlWord = 0x037F;
// All six exceptions masked, rounding to nearest, denormals kept.
constexpr uint32_t kBlockMxcsr = 0x1F80;
// The six exception mask bits of the x87 control word.
constexpr uint16_t kAllExceptionsMasked = 0x003F;

// fnstenv writes 28 bytes in protected mode; MXCSR goes after them.
constexpr size_t kX87EnvironmentSize = 28;
static_assert(sizeof(FloatEnvironment) >= kX87EnvironmentSize + sizeof(uint32_t) + 1);

bool HasSse() {
#if defined(__x86_64__)
  return true;
#else
  // A 32-bit host may run on a processor without SSE, where its
  // instructions are undefined.
  // __builtin_cpu_supports reads what libgcc's start-up code found about
  // the processor; the order of start-up code is not ours to rely on.
  static const bool has_sse = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse") != 0;
  }();
  return has_sse;
#endif
}

}  // namespace

void SaveFloatEnvironment(FloatEnvironment* environment) {
  unsigned char* bytes = environment->bytes;
  // fnstenv masks every exception after storing, as a handler would want;
  // the caller loads the state it wants next.
  asm volatile("fnstenv %0" : "=m"(*reinterpret_cast<unsigned char(*)[28]>(bytes))::"memory");
  uint32_t mxcsr = 0;
  bytes[kX87EnvironmentSize + sizeof mxcsr] = HasSse() ? 1 : 0;
  if (HasSse()) asm volatile("stmxcsr %0" : "=m"(mxcsr));
  std::memcpy(bytes + kX87EnvironmentSize, &mxcsr, sizeof mxcsr);
}

void LoadFloatEnvironment(const FloatEnvironment& environment) {
  const unsigned char* bytes = environment.bytes;
  // The flags as they were, without a wait: an exception the host left
  // pending fires at the host's next instruction, as it would have.
  asm volatile("fldenv %0" ::"m"(*reinterpret_cast<const unsigned char(*)[28]>(bytes)) : "memory");
  if (bytes[kX87EnvironmentSize + sizeof(uint32_t)] != 0) {
    uint32_t mxcsr;
    std::memcpy(&mxcsr, bytes + kX87EnvironmentSize, sizeof mxcsr);
    asm volatile("ldmxcsr %0" ::"m"(mxcsr));
  }
}

void EnterBlockFloatState() {
  // fnclex first: with the host's flags gone, our masked control word
  // cannot meet an unmasked flag that is pending.
  asm volatile("fnclex" ::: "memory");
  asm volatile("fldcw %0" ::"m"(kBlockControlWord));
  if (HasSse()) asm volatile("ldmxcsr %0" ::"m"(kBlockMxcsr));
}

bool LoadChangesNothing(const FloatEnvironment& current, const FloatEnvironment& wanted) {
  const unsigned char* a = current.bytes;
  const unsigned char* b = wanted.bytes;
  uint16_t control;
  std::memcpy(&control, a, sizeof control);
  // The save has just masked every x87 exception, so only a control word
  // that masks them all is still the one saved.
  if ((control & kAllExceptionsMasked) != kAllExceptionsMasked) return false;
  // fnstenv's image gives the control, status and tag words 32 bits each,
  // the upper half unused; what follows them only records the last
  // instruction, which no code runs by.  MXCSR and whether it was saved
  // come after the image.
  for (size_t word : {0, 4, 8}) {
    if (std::memcmp(a + word, b + word, 2) != 0) return false;
  }
  return std::memcmp(a + kX87EnvironmentSize, b + kX87EnvironmentSize, sizeof(uint32_t) + 1) == 0;
}

}  // namespace arduino
