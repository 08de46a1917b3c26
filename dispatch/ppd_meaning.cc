#include "dispatch/ppd_meaning.h"

#include <algorithm>
#include <cctype>
#include <span>
#include <string_view>
#include <vector>

#include "attributes/device_code.h"
#include "attributes/driver_features.h"
#include "attributes/ppd_file.h"
#include "util/job_log.h"

namespace vp {

namespace {

// What decided one attribute, for its log line.
struct Decision {
  std::string value;
  std::string feature;
  std::string why;  // what the code set, or how the choice's name decided
};

struct Decisions {
  Decision color, duplex;
  std::string binding;
  // From the words of a choice whose code the device alone understands: a choice that names grey
  // or colour, else any other choice of a colour mode ("Auto").
  Decision colorByName, colorByMode;
};

// Words of a colour option's choice: its name and the text the user sees.
constexpr std::string_view kGreyWords[] = {"gray",       "grey",  "grayscale", "greyscale", "mono",
                                           "monochrome", "black", "bw",        "kgray"};
constexpr std::string_view kColourChoiceWords[] = {"color", "colour", "cmyk", "rgb", "cmy"};
constexpr std::string_view kColourOptionWords[] = {"color", "colour", "mono"};

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
// `option` and `choice` stay null for a PJL command.
struct FeatureCode {
  std::string name, code;
  const PpdOption* option = nullptr;
  const PpdChoice* choice = nullptr;
};

bool CodeOf(const PpdFile& ppd, const DriverFeature& feature, FeatureCode& found) {
  found = {};
  if (feature.option.empty()) {
    found.name = "PJL header " + feature.choice;
    found.code = feature.choice;
    return true;
  }
  found.option = ppd.Find(feature.option);
  found.choice = found.option ? found.option->Find(feature.choice) : nullptr;
  if (!found.choice)
    return false;
  found.name = "*" + feature.option + " " + feature.choice;
  found.code = found.choice->code;
  return true;
}

void Decide(Decision& decision, const std::string& value, const std::string& name,
            const std::string& why) {
  if (!value.empty())
    decision = {value, name, why};
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words(1);
  for (char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c)))
      words.back() += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    else if (!words.back().empty())
      words.emplace_back();
  }
  return words;
}

bool HasWord(const std::vector<std::string>& words, std::span<const std::string_view> wanted) {
  return std::any_of(words.begin(), words.end(), [&](const std::string& word) {
    return std::find(wanted.begin(), wanted.end(), word) != wanted.end();
  });
}

bool Offers(const PpdOption& option, std::span<const std::string_view> words) {
  return std::any_of(option.choices.begin(), option.choices.end(), [&](const PpdChoice& choice) {
    return HasWord(Words(choice.name + " " + choice.text), words);
  });
}

// A colour mode whose choice's code is the vendor's own (Brother's /BRProcessColor, Oki's
// OKControl): the choice's well-known words tell what the device prints. Only an option about
// colour that offers a grey and a colour choice is a colour mode; rendering options ("Improve
// Gray", "Colour Separation") are not. `named` tells whether the choice names grey or colour; a
// colour mode's other choices ("Auto", "Printer setting") print colour on a colour device, as any
// ColorModel but the grey ones does.
std::string ColourByName(const PpdFile& ppd, const PpdOption& option, const PpdChoice& choice,
                         bool& named) {
  named = false;
  if (!NamesAny(option.keyword + " " + option.text, kColourOptionWords) ||
      !Offers(option, kGreyWords) || !Offers(option, kColourChoiceWords))
    return "";
  const std::vector<std::string> words = Words(choice.name + " " + choice.text);
  named = HasWord(words, kGreyWords) || HasWord(words, kColourChoiceWords);
  if (HasWord(words, kGreyWords))
    return "Grayscale";
  return named || ppd.colorDevice != false ? "Color" : "";
}

Decisions ReadFeatures(std::ostream& log, const PpdFile& ppd,
                       const std::vector<DriverFeature>& features) {
  Decisions decisions;
  FeatureCode found;
  for (const DriverFeature& feature : features) {
    if (!CodeOf(ppd, feature, found))
      continue;
    const std::string& name = found.name;
    if (found.choice && found.choice->codeCut)
      LogPlain(log, "the code of " + name + " is longer than " + std::to_string(kLongestCode) +
                        " bytes: only its start was read");
    const CodeEffect effect = ReadDeviceCode(found.code);
    if (effect.said.empty() && found.choice) {
      const PpdChoice& choice = *found.choice;
      bool named = false;
      const std::string colour = ColourByName(ppd, *found.option, choice, named);
      Decide(named ? decisions.colorByName : decisions.colorByMode, colour, name,
             " by its name \"" + (choice.text.empty() ? choice.name : choice.text) +
                 "\" (its code sets nothing the backend reads)");
    }
    const std::string why = ", whose code sets " + effect.said;
    Decide(decisions.color, effect.set.color, name, why);
    Decide(decisions.duplex, effect.set.duplex, name, why);
    if (!effect.set.binding.empty())
      decisions.binding = effect.set.binding;
  }
  return decisions;
}

void Apply(std::ostream& log, const Decision& decision, const char* label, std::string& field) {
  if (decision.value.empty())
    return;
  LogPlain(log,
           std::string(label) + " " + decision.value + " from " + decision.feature + decision.why);
  field = decision.value;
}

}  // namespace

void ApplyPpdMeaning(std::ostream& log, JobInfo& job, const std::vector<DriverFeature>& features,
                     const PpdFile& ppd) {
  if (!ppd.readable)
    return;
  const Decisions decisions = ReadFeatures(log, ppd, features);
  const Decision& colour = !decisions.color.value.empty()         ? decisions.color
                           : !decisions.colorByName.value.empty() ? decisions.colorByName
                                                                  : decisions.colorByMode;
  Apply(log, colour, "color", job.color);
  Apply(log, decisions.duplex, "duplex", job.duplex);
  if (!decisions.duplex.value.empty()) {
    job.binding = job.duplex != "TwoSided"    ? ""
                  : decisions.binding.empty() ? "LONGEDGE"
                                              : decisions.binding;
  }
  if (decisions.duplex.value.empty() && job.duplex.empty() &&
      !HasOptionFor(ppd, &JobInfo::duplex, kDuplexWords)) {
    LogPlain(log, "duplex OneSided: the PPD has no duplex option");
    job.duplex = "OneSided";
  }
  // Where nothing in the job decides, a device prints as it is built: a colour device in colour,
  // also when its colour option was left at a choice whose code sets nothing (the printer's own
  // setting); a device without colour and without a colour option in grey.
  if (!colour.value.empty() || !job.color.empty() || !ppd.colorDevice.has_value())
    return;
  const bool hasColourOption = HasOptionFor(ppd, &JobInfo::color, kColourWords);
  if (*ppd.colorDevice) {
    LogPlain(log, hasColourOption
                      ? "color Color: the PPD's device prints colour and no colour choice of the "
                        "job sets a colour"
                      : "color Color: the PPD's device prints colour and has no colour option");
    job.color = "Color";
  } else if (!hasColourOption) {
    LogPlain(log, "color Grayscale: the PPD's device has no colour and no colour option");
    job.color = "Grayscale";
  }
}

}  // namespace vp
