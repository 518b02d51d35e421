#pragma once

namespace murve {

// -list: probes every serial port at once, as a run begins (the wake and h, nothing else), and
// prints a line for each with what answered. Gives the exit status: 0 when a MURVE Pro answered,
// 1 when none did. `baud` 0 keeps each port's own rate.
int list_serial_ports_for_murve(const char* program, unsigned baud);

}  // namespace murve
