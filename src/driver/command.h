// The palfill command, `palfill in.png [in.clt] out.png`: seeds the
// colours, applies the CLUT file when one is named, then copies the PNG
// with its palette inserted. Prints exactly one line on standard output,
// nothing on standard error, and returns the exit status: 0 after a
// completed conversion, 1 after any failure it reports.
//
// Its line never goes into the input, the CLUT or a file it refused as the
// output, and into the output only after what palfill wrote there.
#ifndef PALFILL_DRIVER_COMMAND_H_
#define PALFILL_DRIVER_COMMAND_H_

#include <vector>

#include "conversion.h"

namespace palfill {

// `args` is the whole command line, the invocation name first. Prints the
// line where it belongs and returns the exit status.
int run_palfill(const std::vector<command_argument>& args);

}  // namespace palfill

#endif  // PALFILL_DRIVER_COMMAND_H_
