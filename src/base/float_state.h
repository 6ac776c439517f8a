// The floating-point state of the host that called an export.  A host sets
// its own x87 control word, and some unmask exceptions that C leaves masked
// (Object Pascal's $1332 unmasks invalid operation, zero divide and
// overflow), so a NaN compared or an overflowing reply converted would trap
// inside the library.  Every export therefore runs under the library's own
// state, everything masked, 64-bit precision and rounding to nearest, and
// gives the host back its state exactly as it was, status word included, so
// that no exception of ours is left pending to fire at the host's next
// floating-point instruction.
#pragma once

namespace arduino {

// The saved state: the x87 environment (control, status and tag words) and,
// where there is one, the SSE control and status register.
struct FloatEnvironment {
  alignas(16) unsigned char bytes[48];
};

// The block's state while an export runs, for as long as the object lives.
class HostFloatState {
 public:
  HostFloatState();  // saves the host's state and puts the block's in force
  ~HostFloatState() { Restore(); }
  HostFloatState(const HostFloatState&) = delete;
  HostFloatState& operator=(const HostFloatState&) = delete;

  // Gives the host its state back; later calls, and the destructor after
  // one, do nothing.  The error path calls it before the error leaves,
  // because on Windows the host takes the error without running our
  // destructors.
  void Restore();

 private:
  friend class HostCodeScope;

  FloatEnvironment host_;
  HostFloatState* outer_;  // the export further out on this thread, if any
  bool restored_ = false;
};

// The host's own code called back from inside an export, such as its window
// procedures dispatched by a pump pass, runs under the host's state, not
// ours: the host's state is in force for as long as the object lives, and
// whatever the host changed in it is what the export gives back at its end.
// Outside an export it does nothing.
class HostCodeScope {
 public:
  HostCodeScope();
  ~HostCodeScope();
  HostCodeScope(const HostCodeScope&) = delete;
  HostCodeScope& operator=(const HostCodeScope&) = delete;

 private:
  HostFloatState* export_;
  FloatEnvironment block_;
};

// The processor's part, one file per architecture: saving the whole state,
// loading a saved one, and putting the block's own in force with no
// exception flag set.
void SaveFloatEnvironment(FloatEnvironment* environment);
void LoadFloatEnvironment(const FloatEnvironment& environment);
void EnterBlockFloatState();
// Whether loading `wanted` just after saving `current` would leave in force
// what is in force already, as far as any code can tell.  A load costs as
// much as a save, and most hosts keep the very state the block keeps, so
// the switches around each piece of host code that a wait dispatches skip
// the load then.  False wherever the processor's part cannot tell.
bool LoadChangesNothing(const FloatEnvironment& current, const FloatEnvironment& wanted);

}  // namespace arduino
