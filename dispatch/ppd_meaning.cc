#include "dispatch/ppd_meaning.h"

#include <span>
#include <string_view>

#include "attributes/device_code.h"
#include "attributes/driver_features.h"
#include "attributes/ppd_file.h"
#include "util/job_log.h"

namespace {

// What decided one attribute, for its log line.
struct Decision {
  std::string value;
  std::string feature;
  std::string said;
};

struct Decisions {
  Decision color, duplex;
  std::string binding;
};

// Option keywords that tell what an option is about even when its code is the vendor's own.
constexpr std::string_view kDuplexWords[] = {"duplex"};
constexpr std::string_view kColourWords[] = {"color", "colour", "gray", "grey", "mono"};

bool NamesAny(const std::string& keyword, std::span<const std::string_view> words) {
  for (std::string_view word : words) {
    if (findCaseInsensitive(keyword, std::string(word)) != std::string::npos)
      return true;
  }
  return false;
}

// True when the PPD offers the user an option about that attribute: one whose name says so or
// whose code sets it.
bool HasOptionFor(const PpdFile& ppd, std::string JobInfo::*field,
                  std::span<const std::string_view> words) {
  for (const PpdOption& option : ppd.options) {
    if (!option.userInterface)
      continue;
    if (NamesAny(option.keyword, words))
      return true;
    for (const PpdChoice& choice : option.choices) {
      if (!(ReadDeviceCode(choice.code).set.*field).empty())
        return true;
    }
  }
  return false;
}

// The code behind a feature: the PPD choice's, or for a PJL header command the command itself.
bool CodeOf(const PpdFile& ppd, const DriverFeature& feature, std::string& name,
            std::string& code) {
  if (feature.option.empty()) {
    name = "PJL header " + feature.choice;
    code = feature.choice;
    return true;
  }
  const PpdOption* option = ppd.Find(feature.option);
  const PpdChoice* choice = option ? option->Find(feature.choice) : nullptr;
  if (!choice)
    return false;
  name = "*" + feature.option + " " + feature.choice;
  code = choice->code;
  return true;
}

void Decide(Decision& decision, const std::string& value, const std::string& name,
            const std::string& said) {
  if (!value.empty())
    decision = {value, name, said};
}

Decisions ReadFeatures(const PpdFile& ppd, const std::string& dataPath) {
  Decisions decisions;
  std::string name, code;
  for (const DriverFeature& feature : ReadDriverFeatures(dataPath)) {
    if (!CodeOf(ppd, feature, name, code))
      continue;
    const CodeEffect effect = ReadDeviceCode(code);
    Decide(decisions.color, effect.set.color, name, effect.said);
    Decide(decisions.duplex, effect.set.duplex, name, effect.said);
    if (!effect.set.binding.empty())
      decisions.binding = effect.set.binding;
  }
  return decisions;
}

void Apply(std::ostream& log, const Decision& decision, const char* label, std::string& field) {
  if (decision.value.empty())
    return;
  LogPlain(log, std::string(label) + " " + decision.value + " from " + decision.feature +
                    ", whose code sets " + decision.said);
  field = decision.value;
}

}  // namespace

void ApplyPpdMeaning(std::ostream& log, JobInfo& job, const std::string& dataPath,
                     const std::string& ppdPath) {
  if (ppdPath.empty())
    return;
  const PpdFile ppd = ReadPpd(ppdPath);
  if (!ppd.readable)
    return;
  const Decisions decisions = ReadFeatures(ppd, dataPath);
  Apply(log, decisions.color, "color", job.color);
  Apply(log, decisions.duplex, "duplex", job.duplex);
  if (!decisions.duplex.value.empty()) {
    job.binding = job.duplex != "TwoSided"      ? ""
                  : decisions.binding.empty() ? "LONGEDGE"
                                              : decisions.binding;
  }
  if (decisions.duplex.value.empty() && job.duplex.empty() &&
      !HasOptionFor(ppd, &JobInfo::duplex, kDuplexWords)) {
    LogPlain(log, "duplex OneSided: the PPD has no duplex option");
    job.duplex = "OneSided";
  }
  if (decisions.color.value.empty() && job.color.empty() && ppd.colorDevice == false &&
      !HasOptionFor(ppd, &JobInfo::color, kColourWords)) {
    LogPlain(log, "color Grayscale: the PPD's device has no colour and no colour option");
    job.color = "Grayscale";
  }
}
