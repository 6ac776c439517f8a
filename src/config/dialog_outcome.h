// How the settings dialog tells blockhost whether it was confirmed.  The
// export has no result, and a host gets none; blockhost, which loads the
// library into its own process, puts this variable into the process
// environment before the call, and the dialog then sets it to one of the
// words below.  A host that never sets it finds its environment untouched.
#pragma once

namespace arduino {

inline constexpr char kDialogOutcomeVariable[] = "ARDUINO_BLOCK_DIALOG_OUTCOME";
inline constexpr char kDialogAsked[] = "asked";  // what blockhost sets; no answer yet
inline constexpr char kDialogConfirmed[] = "ok";
inline constexpr char kDialogCancelled[] = "cancel";
inline constexpr char kDialogNoDisplay[] = "no-display";

}  // namespace arduino
