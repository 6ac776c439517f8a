// The export that opens a block's settings dialog; built only where the
// platform has a view of the form.
#include "arduino_block.h"
#include "block/block_record.h"
#include "config/ArduinoDlg.h"
#include "host/boundary.h"

using namespace arduino;

extern "C" void ARDUINO_BLOCK_CALL CallParameterDialogDLL(void* block, int32_t) {
  Guarded([&] { RunParameterDialog(UserDataOf(block)); });
}
