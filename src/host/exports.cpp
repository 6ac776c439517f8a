// The exported functions.  Each one finds its block through the record's
// UserData slot and runs its body through Guarded, so errors reach the host
// the way the platform expects.
#include <cstring>
#include <memory>

#include "arduino_block.h"
#include "base/application.h"
#include "base/extended.h"
#include "block/block_record.h"
#include "block/user_data.h"
#include "config/file_io.h"
#include "config/settings_block.h"
#include "host/boundary.h"
#include "host/simulation.h"
#include "link/NMUDP.h"

using namespace arduino;

namespace {

const char* const kInputNames[ARDUINO_BLOCK_INPUTS] = {"Pin2", "Pin3", "Pin4", "Pin5",
                                                       "Pin6", "Pin7", "Pin8", "Pin9"};
// Four names a row; clang-format would give each a line of its own.
// clang-format off
const char* const kOutputNames[ARDUINO_BLOCK_OUTPUTS] = {
    "Pin2",           "Pin3",           "Pin4",           "Pin5",
    "Pin6",           "Pin7",           "Pin8",           "Pin9",
    "Analog Input A0", "Analog Input A1", "Analog Input A2", "Analog Input A3",
    "Analog Input A4", "Analog Input A5"};
// clang-format on

void PutByte(void* record, size_t offset, uint8_t value) {
  static_cast<unsigned char*>(record)[offset] = value;
}

void PutInt32(void* record, size_t offset, int32_t value) {
  std::memcpy(static_cast<unsigned char*>(record) + offset, &value, sizeof value);
}

// Copies the name and its terminating zero; the rest of the slot stays as
// the host supplied it.
void PutName(void* description, size_t offset, const char* name) {
  std::memcpy(static_cast<unsigned char*>(description) + offset, name, std::strlen(name) + 1);
}

}  // namespace

extern "C" {

void ARDUINO_BLOCK_CALL IsUserDLL32(void) {}

const char* ARDUINO_BLOCK_CALL GetDLLName(void) { return "Arduino"; }

void ARDUINO_BLOCK_CALL InitUserDLL(void* block) {
  Guarded([&] {
    Application().SetOwnerWindow(AppHandleOf(block));
    auto* d = new TUserData;
    AttachUserData(block, d);
    SetDefaults(*d);
    d->Dummy = std::make_unique<TDummy>(d);
    // A socket failure raises here and leaves the block without an endpoint;
    // the UDP link then reports that instead of touching a missing one.  That
    // includes the fresh socket that setting the port makes: an endpoint kept
    // without it would lose every datagram without a word.
    d->Udp.reset(new TNMUDP);
    TDummy* dummy = d->Dummy.get();
    d->Udp->SetOnDataReceived(
        [dummy](TNMUDP* sender, int32_t bytes, const std::string& from_ip, int32_t port) {
          dummy->UdpDataReceived(sender, bytes, from_ip, port);
        });
    try {
      d->Udp->SetLocalPort(kLocalPort);
    } catch (...) {
      d->Udp.reset();
      throw;
    }
  });
}

void ARDUINO_BLOCK_CALL DisposeUserDLL(void* block) {
  Guarded([&] {
    TUserData* d = &UserDataOf(block);
    DetachUserData(block);
    // The dialog owner is cleared only with the last block, so that the
    // dialogs of the blocks still alive keep the host's window as owner.
    if (LiveBlockCount() == 0) Application().SetOwnerWindow(0);
    d->Udp.reset();
    d->Dummy.reset();
    delete d;
  });
}

void ARDUINO_BLOCK_CALL GetNumberOfInputsOutputs(void* description) {
  PutByte(description, 1, ARDUINO_BLOCK_OUTPUTS);
  PutByte(description, 0, ARDUINO_BLOCK_INPUTS);
  for (int k = 0; k < ARDUINO_BLOCK_OUTPUTS; ++k) {
    PutName(description, ARDUINO_BLOCK_IO_OUTPUT_NAMES + ARDUINO_BLOCK_IO_NAME_SIZE * k,
            kOutputNames[k]);
  }
  for (int k = 0; k < ARDUINO_BLOCK_INPUTS; ++k) {
    PutName(description, ARDUINO_BLOCK_IO_INPUT_NAMES + ARDUINO_BLOCK_IO_NAME_SIZE * k,
            kInputNames[k]);
  }
}

void ARDUINO_BLOCK_CALL GetParameterStruct(void* record) {
  const uint8_t lead[] = {ARDUINO_BLOCK_PARAMETER_LEAD_BYTES};
  for (size_t k = 0; k < sizeof lead; ++k) PutByte(record, k, lead[k]);
  PutInt32(record, ARDUINO_BLOCK_PARAMETER_FIELD_OFFSET, 0);
}

void ARDUINO_BLOCK_CALL GetDialogEnableStruct(void* record, int32_t) {
  for (size_t k = 0; k < ARDUINO_BLOCK_DIALOG_ENABLE_FIELDS; ++k) {
    PutInt32(record, sizeof(int32_t) * k, -1);
  }
  PutByte(record, ARDUINO_BLOCK_DIALOG_ENABLE_BYTE_OFFSET, 1);
}

const char* ARDUINO_BLOCK_CALL SetInputChar(void) { return "23456789"; }

const char* ARDUINO_BLOCK_CALL SetOutputChar(void) { return "23456789A&0A&1A&2A&3A&4A&5"; }

int32_t ARDUINO_BLOCK_CALL CanSimulateDLL(void* block) {
  return Guarded([&] { return CanSimulate(UserDataOf(block)); });
}

void ARDUINO_BLOCK_CALL InitSimulationDLL(void* block, void* inputs, void* outputs) {
  Guarded([&] { InitSimulation(UserDataOf(block), inputs, outputs); });
}

void ARDUINO_BLOCK_CALL SimulateDLL(Lead12, void* block, void* inputs, void* outputs) {
  Guarded([&] { SimulateStep(UserDataOf(block), inputs, outputs); });
}

void ARDUINO_BLOCK_CALL EndSimulationDLL2(void* block) {
  Guarded([&] { EndSimulation(UserDataOf(block)); });
}

void ARDUINO_BLOCK_CALL WriteToFile(uint32_t handle, void* block) {
  Guarded([&] { WriteSettingsBlock(FileHandleOf(handle), UserDataOf(block)); });
}

void ARDUINO_BLOCK_CALL ReadFromFile(uint32_t handle, void* block) {
  Guarded([&] { ReadSettingsBlock(FileHandleOf(handle), UserDataOf(block)); });
}

}  // extern "C"
