#include "base/application.h"

namespace arduino {

void TApplication::SetCursor(int cursor) {
  cursor_ = cursor;
  ShowCursor(cursor);
}

TApplication& Application() {
  static TApplication application;
  return application;
}

}  // namespace arduino
