#include "config/device_options.h"

#include <cups/backend.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <optional>

#include "util/job_log.h"

namespace vp {

namespace {

struct BooleanOption {
  const char* name;
  bool DeviceOptions::*field;
};

constexpr BooleanOption kBooleanOptions[] = {
    {"status", &DeviceOptions::statusLines},
};

// Options whose value is a number of seconds, 0 to kMaxWaitSeconds, in decimal digits.
struct SecondsOption {
  const char* name;
  int DeviceOptions::*field;
};

constexpr SecondsOption kSecondsOptions[] = {
    {"wait", &DeviceOptions::waitSeconds},
};

struct BooleanWord {
  const char* word;
  bool value;
};

constexpr BooleanWord kBooleanWords[] = {
    {"on", true}, {"yes", true}, {"true", true}, {"off", false}, {"no", false}, {"false", false},
};

std::optional<int> ParseSeconds(const std::string& text) {
  if (text.empty() || text.size() > 8 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  int seconds = std::atoi(text.c_str());
  if (seconds > kMaxWaitSeconds)
    return std::nullopt;
  return seconds;
}

std::optional<bool> ParseBoolean(const std::string& text) {
  for (const BooleanWord& word : kBooleanWords) {
    if (strcasecmp(text.c_str(), word.word) == 0)
      return word.value;
  }
  return std::nullopt;
}

void ApplyOption(std::ostream& log, DeviceOptions& options, const std::string& pair) {
  size_t equals = pair.find('=');
  std::string name = pair.substr(0, equals);
  std::string value = equals == std::string::npos ? "" : pair.substr(equals + 1);
  for (const BooleanOption& option : kBooleanOptions) {
    if (strcasecmp(name.c_str(), option.name) != 0)
      continue;
    std::optional<bool> parsed = ParseBoolean(value);
    if (parsed)
      options.*option.field = *parsed;
    else
      Log(log, "device URI option ignored, unknown value", pair);
    return;
  }
  for (const SecondsOption& option : kSecondsOptions) {
    if (strcasecmp(name.c_str(), option.name) != 0)
      continue;
    std::optional<int> parsed = ParseSeconds(value);
    if (parsed)
      options.*option.field = *parsed;
    else
      Log(log, "device URI option ignored, unknown value", pair);
    return;
  }
  Log(log, "device URI option ignored, unknown name", pair);
}

}  // namespace

DeviceOptions ReadDeviceOptions(std::ostream& log, const std::string& deviceUri) {
  DeviceOptions options;
  size_t query = deviceUri.find('?');
  if (query == std::string::npos)
    return options;
  size_t start = query + 1;
  while (start <= deviceUri.size()) {
    size_t end = deviceUri.find_first_of("&+", start);
    if (end == std::string::npos)
      end = deviceUri.size();
    if (end > start)
      ApplyOption(log, options, deviceUri.substr(start, end - start));
    start = end + 1;
  }
  return options;
}

std::string ReadDeviceUri(std::ostream& log, char* argv[]) {
  const char* read = cupsBackendDeviceURI(argv);
  // Where libcups takes it from, in its order.
  const char* given = getenv("DEVICE_URI");
  if (given == nullptr && argv[0] != nullptr && strchr(argv[0], ':') != nullptr)
    given = argv[0];
  if (read == nullptr)
    return "";
  if (given != nullptr && strlen(read) < strlen(given))
    Log(log, "device URI cut off by libcups after " + std::to_string(strlen(read)) + " of " +
                 std::to_string(strlen(given)) + " bytes: options beyond that are ignored");
  return read;
}

}  // namespace vp
