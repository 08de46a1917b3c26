// The PPD reader, what driver code sets and the feature scan, on any bytes: every bound holds, and
// the one-pass hex decoding gives what a plain decoding gives.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "attributes/device_code.h"
#include "attributes/driver_features.h"
#include "attributes/ppd_file.h"
#include "tests/fuzz/fuzz_support.h"

namespace vp {

namespace {

int Hex(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// Each '<' looks for its own '>' and spells hex digits and blanks only; quadratic, and plainly so.
std::string PlainDecode(const std::string& text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    size_t close = text[i] == '<' ? text.find('>', i + 1) : std::string::npos;
    std::optional<std::string> bytes;
    if (close != std::string::npos && close > i + 1) {
      std::string digits;
      bool hex = true;
      for (size_t j = i + 1; j < close && hex; ++j) {
        if (text[j] == ' ' || text[j] == '\t' || text[j] == '\r' || text[j] == '\n')
          continue;
        hex = Hex(text[j]) >= 0;
        digits += text[j];
      }
      if (hex && !digits.empty() && digits.size() % 2 == 0) {
        bytes.emplace();
        for (size_t j = 0; j < digits.size(); j += 2)
          *bytes += static_cast<char>(Hex(digits[j]) << 4 | Hex(digits[j + 1]));
      }
    }
    if (bytes) {
      out += *bytes;
      i = close + 1;
    } else {
      out += text[i++];
    }
  }
  return out;
}

}  // namespace

}  // namespace vp

using namespace vp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  Require(DecodePpdHex(bytes) == PlainDecode(bytes), "hex decoding as the plain one");

  static MemoryFile file;
  if (!file.write(bytes))
    return 0;
  const PpdFile ppd = ReadPpd(file.path());
  Require(ppd.readable, "a regular file is readable");
  Require(ppd.options.size() <= kMostOptions, "options bounded");
  size_t choices = 0;
  for (const PpdOption& option : ppd.options) {
    choices += option.choices.size();
    for (const PpdChoice& choice : option.choices) {
      Require(choice.code.size() <= kLongestCode, "code bounded");
      const CodeEffect effect = ReadDeviceCode(choice.code);
      Require(effect.said.empty() == (effect.set.color.empty() && effect.set.duplex.empty() &&
                                      effect.set.binding.empty()),
              "code that sets something says what");
    }
  }
  Require(choices <= kMostChoices, "choices bounded");

  // The same data as a job: what the scan finds does not depend on how it is read.
  auto pairs = [](const std::vector<DriverFeature>& features) {
    std::vector<std::pair<std::string, std::string>> read;
    for (const DriverFeature& f : features)
      read.emplace_back(f.option, f.choice);
    return read;
  };
  const size_t block = size == 0 ? 1 : 1 + data[0] % 64;
  Require(pairs(ReadDriverFeatures(file.path(), block)) == pairs(ReadDriverFeatures(file.path())),
          "features whatever the block size");
  return 0;
}
