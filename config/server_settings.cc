#include "config/server_settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>

#include "config/plutil_listing.h"
#include "util/job_log.h"
#include "util/json_reading.h"
#include "util/paths.h"
#include "util/quoted_input.h"
#include "util/safe_file.h"
#include "util/safe_text.h"

namespace vp {

namespace {

constexpr char kNoListing[] = "Could not open the file!";
constexpr char kNoQuoradex[] = "JSON object does not contain 'quoradex'";

// A settings file is a few hundred bytes: a larger listing is not one of them.
constexpr size_t kMaxListingBytes = kMaxPlutilListingBytes;

constexpr SettingsKey kSettingsKeys[] = {
    {"AuthMode", &ConfigInfo::AuthMode, Shown::kAsItIs},
    {"MAC", &ConfigInfo::MAC, Shown::kAsItIs},
    {"PassWord", &ConfigInfo::PassWord, Shown::kHidden},
    {"PassWord2", &ConfigInfo::PassWord2, Shown::kHidden},
    {"SelectedPrinter", &ConfigInfo::SelectedPrinter, Shown::kAsItIs},
    {"ServerIp", &ConfigInfo::ServerIp, Shown::kWithoutUserInfo},
    {"UserName", &ConfigInfo::UserName, Shown::kAsItIs},
    {"select_printer_name", &ConfigInfo::select_printer_name, Shown::kAsItIs},
    {"ServerIP_Mode", &ConfigInfo::ServerIP_Mode, Shown::kAsItIs},
    {"rememberPassword", &ConfigInfo::rememberPassword, Shown::kAsItIs},
    {"ClientId", &ConfigInfo::ClientId, Shown::kAsItIs},
    {"QrCodeServer", &ConfigInfo::QrCodeServer, Shown::kAsItIs},
    {"Token", &ConfigInfo::Token, Shown::kHidden},
};

const SettingsKey* findSettingsKey(const std::string& key) {
  for (const SettingsKey& row : SettingsKeys()) {
    if (key == row.key)
      return &row;
  }
  return nullptr;
}

// Jobs run side by side, so each makes its listing under a name of its own. A file left there by a
// dead process with the same id is removed first; O_EXCL then refuses anything planted meanwhile.
int createOwnListing(const std::string& path) {
  unlink(path.c_str());
  return OpenNoFollow(path, O_RDWR | O_CREAT | O_EXCL, 0600);
}

// A descriptor on the listing to read: this job's own, complete before it is renamed into place,
// or, when none can be made here, the one an earlier job left. -1 when there is none, or when
// plutil went beyond its bounds (its partial listing is dropped).
int openListing(std::ostream& log, const SettingsFiles& settings) {
  std::string own = settings.listing + "." + std::to_string(getpid());
  int fd = createOwnListing(own);
  if (fd < 0)
    return OpenNoFollow(settings.listing, O_RDONLY, 0);
  bool bounded =
      ListPropertyList(log, settings.plutil, settings.file,
                       [fd](const char* data, size_t size) { return WriteAll(fd, data, size); });
  if (!bounded) {
    unlink(own.c_str());
    close(fd);
    return -1;
  }
  if (rename(own.c_str(), settings.listing.c_str()) != 0)
    unlink(own.c_str());
  lseek(fd, 0, SEEK_SET);
  return fd;
}

// Echoes the listing line by line and returns its lines joined without separator; nothing when
// the listing is larger than a settings file can be.
std::optional<std::string> readListing(std::ostream& log, int fd) {
  std::string text;
  char block[4096];
  char last = '\n';
  size_t total = 0;
  for (;;) {
    ssize_t n = read(fd, block, sizeof block);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    total += static_cast<size_t>(n);
    if (total > kMaxListingBytes) {
      Log(log, "settings listing larger than " + std::to_string(kMaxListingBytes) + " bytes");
      return std::nullopt;
    }
    std::cout.write(block, n);
    last = block[n - 1];
    for (ssize_t i = 0; i < n; ++i) {
      if (block[i] != '\n')
        text += block[i];
    }
  }
  if (last != '\n')
    std::cout << '\n';
  return text;
}

std::string listingToJSON(std::string text) {
  replaceAll(text, " => ", ":");
  return fix_json_str(formatToJSON(text));
}

void say(std::ostream& log, const std::string& message) {
  std::cout << message << '\n';
  Log(log, message);
}

// False, with the JSON library's words in `error`, when the key is ours and its value no string.
bool storeMember(std::ostream& log, ConfigInfo& config, const std::string& key,
                 const nlohmann::json& value, std::string& error) {
  std::string text = value.dump();
  std::cout << "Key: " << key << ", Value: " << text << '\n';
  const SettingsKey* row = findSettingsKey(key);
  Shown shown = row != nullptr ? row->shown : Shown::kAsItIs;
  if (shown == Shown::kHidden)
    Log(log, key, "***");
  else if (shown == Shown::kWithoutUserInfo && value.is_string())
    Log(log, key, nlohmann::json(MaskedUserInfo(value.get<std::string>())).dump());
  else
    Log(log, key, text);
  if (row == nullptr)
    return true;
  if (!value.is_string()) {
    error = NotAStringError(value);
    return false;
  }
  config.*(row->field) = value.get<std::string>();
  return true;
}

Outcome stoppedAt(std::ostream& log, const std::string& error) {
  const std::string line = "Caught exception: " + WithoutQuotedInput(error);
  Log(log, line);
  return {Failure::kSettingsUnreadable, line};
}

// The parsed object keeps its members sorted by key, so they are visited in byte order.
SettingsReading readSettings(std::ostream& log, const std::string& json) {
  SettingsReading reading;
  JsonReading settings = ReadJson(json);
  if (!settings.ok()) {
    reading.outcome = stoppedAt(log, settings.error);
    return reading;
  }
  say(log, "Parsed JSON successfully.");
  if (!settings.value.is_object() || !settings.value.contains("quoradex")) {
    say(log, kNoQuoradex);
    reading.outcome = {Failure::kSettingsUnreadable, kNoQuoradex};
    return reading;
  }
  say(log, "Contains quoradex");
  for (const auto& member : settings.value.find("quoradex")->items()) {
    std::string error;
    if (!storeMember(log, reading.config, member.key(), member.value(), error)) {
      reading.outcome = stoppedAt(log, error);
      return reading;
    }
  }
  return reading;
}

}  // namespace

std::span<const SettingsKey> SettingsKeys() {
  return kSettingsKeys;
}

SettingsFiles FixedSettingsFiles() {
  return {paths::kSettingsFile, paths::kSettingsListing, paths::kPlutil};
}

SettingsReading getServerInfo(std::ostream& log, const SettingsFiles& settings) {
  int fd = openListing(log, settings);
  std::optional<std::string> text;
  if (fd >= 0) {
    text = readListing(log, fd);
    close(fd);
  }
  if (!text) {
    std::cerr << kNoListing << '\n';
    Log(log, kNoListing);
    return {ConfigInfo{}, {Failure::kSettingsUnreadable, kNoListing}};
  }
  return readSettings(log, listingToJSON(*text));
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty())
    return;  // an empty pattern matches everywhere and would never end
  std::string result;
  size_t start = 0;
  size_t found = 0;
  while ((found = text.find(from, start)) != std::string::npos) {
    result.append(text, start, found - start);
    result += to;
    start = found + from.size();
  }
  result.append(text, start);
  text = std::move(result);
}

std::string formatToJSON(const std::string& text) {
  std::string result;
  bool inString = false;
  char last = '\0';
  for (char c : text) {
    if (c == '"')
      inString = !inString;
    if (inString) {
      result += c;
    } else if (last == '"' && c == '"') {
      result += ',';
      result += c;
    } else if (c == '\t' || c == '\n' || c == ' ') {
      continue;
    } else {
      result += c;
    }
    last = c;
  }
  return result;
}

std::string fix_json_str(const std::string& text) {
  std::string result = text;
  replaceAll(result, "\"\"", "\",\"");
  return result;
}

}  // namespace vp
