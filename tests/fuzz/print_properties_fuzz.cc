// The job description sent as "printProperties", for any field values: it must always parse as
// JSON, keep its ten keys, and give back every value as the job had it. Values that are not UTF-8
// come back with each stray byte read as the Latin-1 character of that number.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "attributes/job_info.h"
#include "submit/upload.h"
#include "tests/fuzz/fuzz_support.h"

namespace vp {

namespace {

// Bytes in a sequence beginning with this lead byte, or 0 when it cannot begin one.
size_t LeadLength(unsigned char lead) {
  return lead < 0x80   ? 1
         : lead < 0xC0 ? 0
         : lead < 0xE0 ? 2
         : lead < 0xF0 ? 3
         : lead < 0xF8 ? 4
                       : 0;
}

// The JSON library decides what well-formed UTF-8 is.
bool WellFormed(const std::string& text) {
  try {
    nlohmann::json(text).dump();
    return true;
  } catch (const nlohmann::json::type_error&) {
    return false;
  }
}

std::string Latin1(unsigned char byte) {
  return {static_cast<char>(0xC0 | byte >> 6), static_cast<char>(0x80 | (byte & 0x3F))};
}

std::string Expected(const std::string& value) {
  std::string text;
  for (size_t at = 0; at < value.size();) {
    size_t length = LeadLength(static_cast<unsigned char>(value[at]));
    std::string sequence = value.substr(at, length);
    if (length > 1 && sequence.size() == length && WellFormed(sequence)) {
      text += sequence;
      at += length;
    } else if (length == 1) {
      text += value[at++];
    } else {
      text += Latin1(static_cast<unsigned char>(value[at++]));
    }
  }
  return text;
}

JobInfo AnyJob(FuzzedDataProvider& input) {
  JobInfo job;
  for (std::string JobInfo::*field :
       {&JobInfo::color, &JobInfo::pages, &JobInfo::duplex, &JobInfo::binding, &JobInfo::copies,
        &JobInfo::documentName, &JobInfo::paper, &JobInfo::orientation}) {
    job.*field = input.ConsumeRandomLengthString(64);
  }
  job.driverName = input.ConsumeRemainingBytesAsString();
  return job;
}

bool Holds(const nlohmann::json& parsed, const char* key, const std::string& value) {
  return parsed.contains(key) && parsed[key].is_string() && parsed[key] == value;
}

}  // namespace

}  // namespace vp

using namespace vp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  JobInfo job = AnyJob(input);
  nlohmann::json parsed = nlohmann::json::parse(printProperties(job), nullptr, false);
  Require(!parsed.is_discarded() && parsed.is_object(), "the description parses");
  Require(parsed.size() == 10, "ten keys, no more");
  Require(Holds(parsed, "terminaltype", "linux"), "terminaltype");
  Require(Holds(parsed, "DocumentName", Expected(job.documentName)), "DocumentName");
  Require(Holds(parsed, "AllPage", Expected(job.pages)), "AllPage");
  Require(Holds(parsed, "CopyCount", Expected(job.copies)), "CopyCount");
  Require(Holds(parsed, "Paper", "ISO" + Expected(job.paper)), "Paper");
  Require(Holds(parsed, "Duplexing", Expected(job.duplex)), "Duplexing");
  Require(Holds(parsed, "Color", Expected(job.color)), "Color");
  Require(Holds(parsed, "PageOrientation", Expected(job.orientation)), "PageOrientation");
  Require(Holds(parsed, "DriverName", Expected(job.driverName)), "DriverName");
  Require(Holds(parsed, "DocumentLevel", "\xE5\x85\xAC\xE5\xBC\x80"), "DocumentLevel");
  return 0;
}
