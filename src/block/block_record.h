// Access to the host's block record and the table of live blocks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace arduino {

struct TUserData;

// Puts a new block in the table and its key into the record's UserData slot.
// On 32-bit platforms the key is the pointer itself; on 64-bit ones a pointer
// does not fit the 4-byte slot, so the key is a counter that starts at 1 and
// is never reused while the library is loaded.
void AttachUserData(void* block, TUserData* user_data);
// The block of this record.  A record whose key names no live block raises
// an Exception rather than letting the library touch freed memory.
TUserData& UserDataOf(const void* block);
// Takes the block out of the table; the record's slot keeps its old key.
void DetachUserData(const void* block);
size_t LiveBlockCount();

// The host's application window (HWND on Windows, an X11 window id on Linux).
uint32_t AppHandleOf(const void* block);

}  // namespace arduino
