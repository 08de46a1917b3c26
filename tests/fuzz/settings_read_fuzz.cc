// getServerInfo end to end on any listing: this build's "plutil" prints the settings file as it
// is, so the input is the listing the reader gets. The record must hold what the converted JSON
// says, up to the first settings key whose value is not a string; the listing stays in place; and
// no secret reaches the job log.

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "config/server_settings.h"
#include "tests/fuzz/fuzz_support.h"
#include "util/paths.h"
#include "util/safe_text.h"

namespace vp {

namespace {

// The reader's own table: which key fills which field, and which are secret, is the product's
// word; what the oracle checks is that the reading follows it.
const SettingsKey* Find(const std::string& name) {
  for (const SettingsKey& key : SettingsKeys()) {
    if (name == key.key)
      return &key;
  }
  return nullptr;
}

std::string ReadAll(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WriteAll(const char* path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out.flush());
}

// The listing's lines joined, converted as the reader converts them.
std::string ConvertedJson(const std::string& listing) {
  std::string joined;
  for (char c : listing) {
    if (c != '\n')
      joined += c;
  }
  replaceAll(joined, " => ", ":");
  return fix_json_str(formatToJSON(joined));
}

struct Reading {
  ConfigInfo config;
  bool linesWhole = true;  // no key holds a line feed, so each log line is one member's
};

// Members are visited in key order; the first settings key that holds no string ends the reading.
Reading Expected(const std::string& json) {
  Reading reading;
  nlohmann::json parsed = nlohmann::json::parse(json, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object() || !parsed.contains("quoradex"))
    return reading;
  bool stopped = !parsed["quoradex"].is_object();
  for (const auto& member : parsed["quoradex"].items()) {
    reading.linesWhole = reading.linesWhole && member.key().find('\n') == std::string::npos;
    const SettingsKey* key = Find(member.key());
    if (stopped || key == nullptr)
      continue;
    if (!member.value().is_string()) {
      stopped = true;
      continue;
    }
    reading.config.*(key->field) = member.value().get<std::string>();
  }
  return reading;
}

bool Stamped(const std::string& line) {
  return line.size() >= 20 && line[4] == '-' && line[7] == '-' && line[10] == ' ' &&
         line[13] == ':' && line[16] == ':' && line[19] == ' ';
}

// A logged server address holds no user information: masking it again changes nothing.
bool UserInfoHidden(const std::string& value) {
  nlohmann::json logged = nlohmann::json::parse(value, nullptr, false);
  return !logged.is_string() || MaskedUserInfo(logged.get<std::string>()) == logged;
}

// Each logged secret shows "***" in place of its value, and the server address no user
// information.
bool SecretsHidden(const std::string& log) {
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (!Stamped(line))
      continue;
    line.erase(0, 20);
    size_t colon = line.find(':');
    const SettingsKey* key = colon == std::string::npos ? nullptr : Find(line.substr(0, colon));
    if (key != nullptr && key->shown == Shown::kHidden && line.substr(colon + 1) != "***")
      return false;
    if (key != nullptr && key->shown == Shown::kWithoutUserInfo &&
        !UserInfoHidden(line.substr(colon + 1)))
      return false;
  }
  return true;
}

}  // namespace

}  // namespace vp

using namespace vp;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  mkdir(paths::kLogDir, 0755);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string listing(reinterpret_cast<const char*>(data), size);
  Require(WriteAll(paths::kSettingsFile, listing), "the settings file is written");
  std::ostringstream log;
  ConfigInfo config = getServerInfo(log, FixedSettingsFiles()).config;
  Reading expected = Expected(ConvertedJson(listing));
  for (const SettingsKey& key : SettingsKeys())
    Require(config.*(key.field) == expected.config.*(key.field), key.key);
  Require(ReadAll(paths::kSettingsListing) == listing, "the listing is left in place, whole");
  Require(!expected.linesWhole || SecretsHidden(log.str()), "no secret in the job log");
  return 0;
}
