// The host's project file, reached only through its handle at the file's
// current position (_lwrite and _lread on Windows, write and read of a file
// descriptor on Linux).  The library never opens, seeks or closes it.
#pragma once

#include <cstdint>

namespace arduino {

// The host passes a 16-bit handle in a 32-bit argument; only the low 16 bits
// count.
inline uint32_t FileHandleOf(uint32_t argument) { return argument & 0xffffu; }

// Both return the byte count moved, 0 at end of file, or -1 on failure.
int32_t FileWrite(uint32_t handle, const char* data, uint32_t size);
int32_t FileRead(uint32_t handle, char* data, uint32_t size);

}  // namespace arduino
