#pragma once

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>

namespace vp {

// No property list of ours lists to more than this: beyond it the file is not one of them, and
// its listing is dropped rather than kept in memory or on disk.
constexpr size_t kMaxPlutilListingBytes = size_t{1} << 20;

// Runs `PLUTIL -p FILE` (the program `plutil`, through the shell, so found through PATH) and hands
// what it prints to `sink` block by block; a block `sink` refuses ends the copy. A FIFO or a huge
// file in FILE's place must not hold the caller: after 10 s or kMaxPlutilListingBytes, plutil and
// everything it started are killed. Returns false when a bound was reached (the reason is logged),
// true otherwise, whatever plutil's exit status: a listing it could not make fails to parse later.
bool ListPropertyList(std::ostream& log, const std::string& plutil, const std::string& file,
                      const std::function<bool(const char*, size_t)>& sink);

}  // namespace vp
