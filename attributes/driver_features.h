#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vp {

// The features a driver wrote into a job: the PPD choices it marked ("%%BeginFeature: *Duplex
// DuplexNoTumble") and the PJL commands of the job's own PJL header, in the order the device
// meets them.
struct DriverFeature {
  std::string option;  // "Duplex"; empty for a PJL command
  std::string choice;  // "DuplexNoTumble"; for a PJL command the whole command line
};

// Reads the job's header and setup, not the pages: up to the end of the first page's setup (or
// the second page, the trailer, the end of file), in blocks, never the whole file; data that is not
// PostScript after its PJL header is not read past the header, and a PJL header is read no further
// than 64 KiB. Each option keeps only its last choice, and each PJL variable its last value, in the
// place where it was last chosen; at most as many options as a PPD may have are kept. Lines longer
// than a few kilobytes are cut (features are short). Memory does not grow with the job and time
// grows linearly with it. The file is opened as every file of the log folder is (OpenNoFollow); an
// unreadable one gives no features.
std::vector<DriverFeature> ReadDriverFeatures(const std::string& path,
                                              size_t blockSize = size_t{64} << 10);

}  // namespace vp
