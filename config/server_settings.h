#pragma once

#include <ostream>
#include <span>
#include <string>

#include "util/outcome.h"

namespace vp {

// The client application's settings, one field per settings key of the same name. A field is empty
// when its key is absent and "," when the key holds an empty string.
struct ConfigInfo {
  std::string AuthMode;
  std::string MAC;
  std::string PassWord;
  std::string PassWord2;
  std::string SelectedPrinter;
  std::string ServerIp;
  std::string UserName;
  std::string select_printer_name;
  std::string ServerIP_Mode;
  std::string rememberPassword;
  std::string ClientId;
  std::string QrCodeServer;
  std::string Token;
};

// How a setting shows in the job log, which every local user can read.
enum class Shown { kAsItIs, kHidden, kWithoutUserInfo };

// A settings key the reader takes, the field it fills and how its value is logged.
struct SettingsKey {
  const char* key;
  std::string ConfigInfo::*field;
  Shown shown;
};

// Every settings key the reader takes, in the order of ConfigInfo's fields.
std::span<const SettingsKey> SettingsKeys();

// Whether a setting holds an empty string: a field reads "," then, and empty text when its key is
// absent.
inline bool IsEmptySetting(const std::string& setting) {
  return setting == ",";
}

// The settings as read, and how the reading ended: kSettingsUnreadable, with the job log's line
// on where it stopped, when the listing could not be had or read in full.
struct SettingsReading {
  ConfigInfo config;  // what was read, up to where the reading stopped
  Outcome outcome;
};

// Where the client settings are read: the property list, the listing made of it (each run writes
// its own beside it, then renames it into place) and the plutil that lists it, run through the
// shell.
struct SettingsFiles {
  std::string file;
  std::string listing;
  std::string plutil;
};

// The settings where the backend and the check read them (util/paths.h).
SettingsFiles FixedSettingsFiles();

// Reads the "quoradex" entries of the client settings through plutil's listing.
SettingsReading getServerInfo(std::ostream& log, const SettingsFiles& settings);

// Replaces every occurrence of `from` in place, left to right, never rescanning inserted text.
void replaceAll(std::string& text, const std::string& from, const std::string& to);

// Drops the blanks, tabs and line feeds outside quoted strings; an empty string "" becomes ",".
std::string formatToJSON(const std::string& text);

// Puts a comma between adjacent strings: every "" becomes ",".
std::string fix_json_str(const std::string& text);

}  // namespace vp
