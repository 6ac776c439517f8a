// The timing of bytes on the serial line between the chip's UART0 and the
// terminal.  A frame is a start bit, the data bits, a parity bit when parity
// is on, and one or two stop bits; simavr 1.6 always counts a parity bit, so
// its UART is a tenth slower than an 8N1 wire, and it hands out a sent byte
// when the firmware writes it to UDR0, a whole frame before its stop bit is
// on the line.  avrboard sets simavr's frame length from the registers, and
// holds each sent byte until its frame is over (held_output.h).
#pragma once

#include <cstdint>

namespace avrboard {

// The bits of one frame as UCSRnB and UCSRnC set it (UCSZn2 in B; UPMn1:0,
// USBSn and UCSZn1:0 in C).  The reserved character sizes count as 8 bits,
// as simavr takes them.
int UartFrameBits(uint8_t ucsrb, uint8_t ucsrc);

// Clock cycles a frame takes at the given UBRR and U2X.
uint64_t UartFrameCycles(uint16_t ubrr, bool double_speed, uint8_t ucsrb, uint8_t ucsrc);

}  // namespace avrboard
