// The eight bytes every PNG file begins with.
#ifndef PALFILL_PNG_PNG_SIGNATURE_H_
#define PALFILL_PNG_PNG_SIGNATURE_H_

#include <cstdint>

constexpr uint8_t png_signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

#endif  // PALFILL_PNG_PNG_SIGNATURE_H_
