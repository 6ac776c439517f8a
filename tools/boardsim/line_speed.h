// The old name of serial_wire.h, still included by avrboard; goes once
// avrboard includes serial_wire.h.
#pragma once

#include "serial_wire.h"
