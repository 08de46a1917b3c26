#pragma once

#include <string>
#include <string_view>

#include "attributes/job_info.h"

namespace vp {

// What a piece of driver code makes the device do to colour and sides: PostScript setpagedevice
// keys (/Duplex, /Tumble, /ProcessColorModel) and PJL SET variables (DUPLEX, BINDING, RENDERMODE,
// DATAMODE, GRAYSCALE). Code that sets none of them (a vendor's own operators) decides nothing.
struct CodeEffect {
  JobInfo set;       // only color, duplex and binding, where the code sets them
  std::string said;  // what decided, as the code spells it ("/Duplex true /Tumble false")
};

// Later settings in the code win over earlier ones, as on the device, except in code that
// branches on the device (ifelse), where the first branch is the one the choice asks for. PJL
// lines are read wherever they stand, one command per line; `<hex>` must already be decoded.
CodeEffect ReadDeviceCode(std::string_view code);

}  // namespace vp
