#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vp {

// The few things the backend needs from the queue's PPD file: its options with their choices'
// code and defaults, whether the device prints colour, its default paper and its model name.
//
// The PPD is outside input (a queue's driver, or whatever file PPD= names), so the reader is linear
// in time and bounded in memory whatever it is fed: it reads at most kLargestPpd bytes, keeps at
// most kLongestCode bytes of any choice's code, and at most kMostOptions options and kMostChoices
// choices. What a bound left out is said in `limits`; a cut choice says so itself.

// Vendor PPDs in Debian's archive are at most a few hundred kilobytes; four megabytes leaves room
// for any real one and keeps a job's memory small.
inline constexpr size_t kLargestPpd = size_t{4} << 20;
// The longest choice code of those PPDs is a few kilobytes of PostScript (halftone and colour
// set-up); what sets duplex or colour comes first in any of them.
inline constexpr size_t kLongestCode = size_t{64} << 10;
// Real PPDs have at most a few hundred options and a few thousand choices in all.
inline constexpr size_t kMostOptions = 2000;
inline constexpr size_t kMostChoices = 20000;

struct PpdChoice {
  std::string name;
  std::string text;      // the translation shown to the user ("Black and White"), or empty
  std::string code;      // the quoted value, <hex> substrings decoded
  bool codeCut = false;  // the code was longer than kLongestCode: only its start is kept
};

struct PpdOption {
  std::string keyword;         // without the '*'
  std::string text;            // the translation of *OpenUI ("Color Mode"), or empty
  bool userInterface = false;  // opened by *OpenUI or *JCLOpenUI: the user can choose it
  std::string defaultChoice;   // from *Default<keyword>, or empty
  std::vector<PpdChoice> choices;

  const PpdChoice* Find(std::string_view name) const;
};

struct PpdFile {
  bool readable = false;
  std::string modelName;
  std::optional<bool> colorDevice;  // *ColorDevice, when the file says
  std::vector<PpdOption> options;   // in the order the file first names them
  std::vector<std::string> limits;  // one line per bound the file went beyond, for the job log

  const PpdOption* Find(std::string_view keyword) const;
  // The *Default<keyword> value, empty when there is none.
  std::string Default(std::string_view keyword) const;
};

// Reads the PPD file line by line. An unreadable file, or a path that names anything but a regular
// file (a FIFO, a device), gives a record with `readable` false; nothing is ever waited on.
PpdFile ReadPpd(const std::string& path);

// PPD quoting: every <hex digits> substring stands for the bytes it spells (white space between
// the digits is allowed). Anything else, "<<" of a PostScript dictionary included, stays as it is.
std::string DecodePpdHex(std::string_view text);

}  // namespace vp
