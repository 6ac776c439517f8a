#include "base/float_state.h"

namespace arduino {
namespace {

// The innermost export running on this thread.  Exports do not call one
// another, but a host may call one from a window procedure that a pump pass
// of another dispatched.
thread_local HostFloatState* t_current = nullptr;

}  // namespace

HostFloatState::HostFloatState() : outer_(t_current) {
  SaveFloatEnvironment(&host_);
  EnterBlockFloatState();
  t_current = this;
}

void HostFloatState::Restore() {
  if (restored_) return;
  restored_ = true;
  t_current = outer_;
  LoadFloatEnvironment(host_);
}

HostCodeScope::HostCodeScope() : export_(t_current) {
  if (export_ == nullptr) return;
  SaveFloatEnvironment(&block_);
  if (!LoadChangesNothing(block_, export_->host_)) LoadFloatEnvironment(export_->host_);
  // The host's code may call another export, which then saves the host's
  // state and gives it back, as from any other caller.
  t_current = export_->outer_;
}

HostCodeScope::~HostCodeScope() {
  if (export_ == nullptr) return;
  t_current = export_;
  SaveFloatEnvironment(&export_->host_);
  if (!LoadChangesNothing(export_->host_, block_)) LoadFloatEnvironment(block_);
}

}  // namespace arduino
