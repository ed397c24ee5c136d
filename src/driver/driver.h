// The palfill command, `palfill in.png [in.clt] out.png`: seeds the palette
// table, applies the CLUT file when one is named, then copies the PNG with
// its palette inserted. Prints exactly one line on standard output, nothing
// on standard error, and returns the exit status: 0 after a completed
// conversion, 1 after any failure it reports. A short read of either input
// ends the process from inside with status 1 instead of returning.
#ifndef PALFILL_DRIVER_DRIVER_H_
#define PALFILL_DRIVER_DRIVER_H_

int run_palfill(int argc, char** argv);

#endif  // PALFILL_DRIVER_DRIVER_H_
