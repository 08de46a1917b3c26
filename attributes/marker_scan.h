#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "attributes/job_info.h"
#include "attributes/page_language.h"

namespace vp {

// Drivers leave the job's attributes as marker lines (PostScript comments, PJL commands) in their
// output. One scan serves every driver family; the families differ only in their marker tables.

// How the text after a marker becomes the field's value. With `names` empty it is the count rule
// (CountValue); otherwise a value equal to one of `names` gives `onMatch` and any other gives
// `otherwise`.
struct Rule {
  std::span<const std::string_view> names;
  std::string_view onMatch;
  std::string_view otherwise;
};

inline constexpr Rule kCountRule{};

// Where a hit is reported: a "<label><value>\n" line on standard output, or a stamped
// "<label>:<value>" line in the job log.
enum class Report { kStdout, kJobLog };

// One row of a family's table. The text must not hold a line feed: a marker lies within one line.
struct Marker {
  std::string_view text;
  std::string JobInfo::*field;
  Rule rule;
  Report report;
  std::string_view label;
};

// Bytes read from the file at a time; a longer line grows the buffer to hold it. Larger blocks
// scan no faster and would only add to the backend's peak memory.
inline constexpr size_t kScanBlockSize = size_t{128} << 10;

// True when every byte is an ASCII digit; the empty text passes.
bool AllisNum(const std::string& text);

// The count rule: the decimal text of an all-digit value ("" gives "0", "007" gives "7"), or
// nothing when the value is not all digits or exceeds 2147483647, so no count is ever negative.
std::optional<std::string> CountValue(const std::string& value);

// Reads the file line by line and, on each line, takes the first occurrence of every marker in
// table order: the rest of the line after it is the value, which the marker's rule turns into its
// field. Later hits overwrite earlier ones. The file is opened as every file of the log folder is
// (OpenNoFollow); one that cannot be opened gives an empty record.
// The file is read in blocks, never whole; memory grows only with the longest line holding a hit.
// Every block read is also fed to `language`, when given, so the page language is read in the
// same pass.
JobInfo ScanMarkers(std::ostream& log, const std::string& path, std::span<const Marker> markers,
                    size_t blockSize = kScanBlockSize, PageLanguageReader* language = nullptr);

}  // namespace vp
