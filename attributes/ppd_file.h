#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The few things the backend needs from the queue's PPD file: its options with their choices'
// code and defaults, whether the device prints colour, its default paper and its model name.

struct PpdChoice {
  std::string name;
  std::string text;  // the translation shown to the user ("Black and White"), or empty
  std::string code;  // the quoted value, <hex> substrings decoded
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

  const PpdOption* Find(std::string_view keyword) const;
  // The *Default<keyword> value, empty when there is none.
  std::string Default(std::string_view keyword) const;
};

// Reads the PPD file line by line. An unreadable file gives a record with `readable` false.
PpdFile ReadPpd(const std::string& path);

// PPD quoting: every <hex digits> substring stands for the bytes it spells (white space between
// the digits is allowed). Anything else, "<<" of a PostScript dictionary included, stays as it is.
std::string DecodePpdHex(std::string_view text);
