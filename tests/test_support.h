// Helpers shared by the tests: a host-side block record, value arrays and a
// scratch file, as a host would hand them to the library.  The parts that
// differ between systems (the scratch file, the loopback peer, sleeping, the
// text encoding) come from test_platform.h, one per platform.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "arduino_block.h"
#include "base/application.h"
#include "base/extended.h"
#include "block/block_record.h"
#include "block/user_data.h"
#include "link/serial.h"
#include "test_platform.h"

namespace arduino::testing {

constexpr size_t kBlockRecordSize = 8192;
constexpr uint8_t kHostFill = 0xA5;  // bytes the library must leave alone

// A block created through InitUserDLL in a host-owned record.
class HostBlock {
 public:
  explicit HostBlock(uint32_t app_handle = 0) : record_(kBlockRecordSize, kHostFill) {
    std::memcpy(record_.data() + ARDUINO_BLOCK_APPHANDLE_OFFSET, &app_handle, 4);
    InitUserDLL(record_.data());
  }
  ~HostBlock() {
    if (alive_) DisposeUserDLL(record_.data());
  }
  HostBlock(const HostBlock&) = delete;
  HostBlock& operator=(const HostBlock&) = delete;

  void Dispose() {
    DisposeUserDLL(record_.data());
    alive_ = false;
  }
  void* record() { return record_.data(); }
  const std::vector<uint8_t>& bytes() const { return record_; }
  TUserData& data() { return UserDataOf(record_.data()); }
  uint32_t key() const {
    uint32_t key;
    std::memcpy(&key, record_.data() + ARDUINO_BLOCK_USERDATA_OFFSET, 4);
    return key;
  }

 private:
  std::vector<uint8_t> record_;
  bool alive_ = true;
};

// A host value array of packed 10-byte extended values.
class ValueArray {
 public:
  explicit ValueArray(size_t count, long double fill = 0.0L) : bytes_(count * kExtendedSize) {
    for (size_t i = 0; i < count; ++i) set(i, fill);
  }
  long double operator[](size_t i) const { return ReadValue(bytes_.data(), i); }
  void set(size_t i, long double value) { WriteValue(bytes_.data(), i, value); }
  void* data() { return bytes_.data(); }

 private:
  std::vector<uint8_t> bytes_;
};

// Skips the pause after a serial port opens for as long as it lives, and
// counts the pauses skipped.  A real board needs the pause to come up after
// the open resets it; a pseudo-terminal answers at once, so only the test
// that measures the pause has to sit through it.
class SkipOpenPause {
 public:
  SkipOpenPause() : replaced_(ReplaceOpenPause(&Count)) { skipped_ = 0; }
  ~SkipOpenPause() { ReplaceOpenPause(replaced_); }
  SkipOpenPause(const SkipOpenPause&) = delete;
  SkipOpenPause& operator=(const SkipOpenPause&) = delete;

  static int skipped() { return skipped_; }

 private:
  static void Count(uint32_t) { ++skipped_; }
  static inline int skipped_ = 0;
  OpenPause replaced_;
};

// Runs pump passes until `done` holds or about `limit_ms` have passed.
template <class Predicate>
bool PumpUntil(Predicate done, int limit_ms = 2000) {
  for (int waited = 0; waited < limit_ms; waited += 5) {
    Application().ProcessMessages();
    if (done()) return true;
    SleepMs(5);
  }
  return done();
}

}  // namespace arduino::testing
