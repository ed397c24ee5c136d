// The eight bytes every PNG file begins with. The CLUT reader knows them
// too, to refuse an image named where a CLUT file goes.
#ifndef PALFILL_FORMAT_PNG_SIGNATURE_H_
#define PALFILL_FORMAT_PNG_SIGNATURE_H_

#include <cstdint>

namespace palfill {

constexpr uint8_t png_signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

}  // namespace palfill

#endif  // PALFILL_FORMAT_PNG_SIGNATURE_H_
