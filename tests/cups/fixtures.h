#pragma once

#include <string>

namespace vp {

// Documents and configuration written by the tests themselves.

// A PPD naming the model. With `driverFilter`, its filter lines name the passthru program, so the
// backend gets the document on standard input as from a real driver; without, the filter lines
// need no program and the scheduler hands the backend the spooled file.
std::string MakePpd(const std::string& model, bool driverFilter);

// A vendor PPD as the driver package's driver program hands it to lpadmin ("openprinting-ppds:0/
// ppd/openprinting/Sharp/...", "drv:///sample.drv/laserjet.ppd", or a PPD file's path); empty when
// the package is not installed.
std::string DriverPpd(const std::string& uri);

}  // namespace vp
