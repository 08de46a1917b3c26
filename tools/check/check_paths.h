#pragma once

namespace vp {

// Where virtual-printer-check finds CUPS's side of the installation. Like the backend's own paths,
// they are set at build time (check_paths.cc.in): a test build points them into its sandbox.
namespace check_paths {
extern const char* const kBackendDir;  // CUPS's backend folder, with virtual-printer in it
extern const char* const kFilterDir;   // CUPS's filter folder, first on the PATH of a backend
extern const char* const kCupsdConf;   // the scheduler's configuration
// The preferences domain's files that may set the clean's days (macOS: a configuration profile's
// and the administrator's); empty where the system has no such domain.
extern const char* const kManagedPreferences;
extern const char* const kPreferences;
}  // namespace check_paths

}  // namespace vp
