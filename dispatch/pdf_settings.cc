#include "dispatch/pdf_settings.h"

#include <strings.h>

#include <span>
#include <vector>

#include "util/job_log.h"

namespace vp {

namespace {

constexpr char kColorKey[] = "com.apple.print.PrintSettings.PMColorSpaceModel..n.";
constexpr char kDuplexKey[] = "com.apple.print.PrintSettings.PMDuplexing..n.";

// What a print-dialog setting does to the job; a value may set several fields.
struct SettingRule {
  const char* key;
  const char* value;
  std::string JobInfo::*field;
  const char* result;
};

const SettingRule kSettingRules[] = {
    {kColorKey, "2", &JobInfo::color, "Color"},
    {kColorKey, "1", &JobInfo::color, "Grayscale"},
    {kDuplexKey, "2", &JobInfo::duplex, "TwoSided"},
    {kDuplexKey, "2", &JobInfo::binding, "LONGEDGE"},
    {kDuplexKey, "3", &JobInfo::duplex, "TwoSided"},
    {kDuplexKey, "3", &JobInfo::binding, "SHORTEDGE"},
};

// A standard option's value (or a PPD choice of the same meaning) and what it gives.
struct StandardValue {
  const char* value;
  const char* result;
  const char* binding;
};

const StandardValue kSides[] = {
    {"one-sided", "OneSided", ""},
    {"two-sided-long-edge", "TwoSided", "LONGEDGE"},
    {"two-sided-short-edge", "TwoSided", "SHORTEDGE"},
};

const StandardValue kDuplexChoices[] = {
    {"None", "OneSided", ""},
    {"DuplexNoTumble", "TwoSided", "LONGEDGE"},
    {"DuplexTumble", "TwoSided", "SHORTEDGE"},
};

const StandardValue kColorModes[] = {
    {"monochrome", "Grayscale", ""},
    {"process-monochrome", "Grayscale", ""},
    {"auto-monochrome", "Grayscale", ""},
    {"color", "Color", ""},
};

// ColorModel choices that print grey; any other choice prints colour.
const char* const kGrayColorModels[] = {"Gray", "Grayscale",  "KGray", "Black",
                                        "Mono", "Monochrome", "BW",    "BlackWhite"};

const StandardValue* Meaning(std::span<const StandardValue> table, const std::string& value) {
  for (const StandardValue& entry : table) {
    if (value == entry.value)
      return &entry;
  }
  return nullptr;
}

const StandardValue* ColorModelMeaning(const std::string& value) {
  static const StandardValue kGray{"", "Grayscale", ""};
  static const StandardValue kColour{"", "Color", ""};
  if (value.empty())
    return nullptr;
  for (const char* gray : kGrayColorModels) {
    if (strcasecmp(value.c_str(), gray) == 0)
      return &kGray;
  }
  return &kColour;
}

// Where an attribute may come from when the print dialog did not say, in order.
struct Source {
  std::string name;  // "sides=two-sided-long-edge", "*DefaultDuplex DuplexTumble"
  const StandardValue* meaning;
};

bool TakeFirst(std::ostream& log, const std::vector<Source>& sources, const char* label,
               std::string& field, std::string* binding) {
  for (const Source& source : sources) {
    if (!source.meaning)
      continue;
    field = source.meaning->result;
    if (binding)
      *binding = source.meaning->binding;
    LogPlain(log, std::string(label) + " " + field + " from " + source.name);
    return true;
  }
  return false;
}

Source OptionSource(const OptionsMap& options, const std::string& key,
                    const StandardValue* (*meaning)(const std::string&)) {
  auto it = options.find(key);
  if (it == options.end())
    return {"", nullptr};
  return {key + "=" + it->second, meaning(it->second)};
}

Source DefaultSource(const PpdFile& ppd, const std::string& keyword,
                     const StandardValue* (*meaning)(const std::string&)) {
  std::string choice = ppd.Default(keyword);
  return {"*Default" + keyword + " " + choice, meaning(choice)};
}

const StandardValue* SidesMeaning(const std::string& v) {
  return Meaning(kSides, v);
}
const StandardValue* DuplexMeaning(const std::string& v) {
  return Meaning(kDuplexChoices, v);
}
const StandardValue* ColorModeMeaning(const std::string& v) {
  return Meaning(kColorModes, v);
}

void ResolveDuplex(std::ostream& log, JobInfo& job, const OptionsMap& options, const PpdFile& ppd) {
  TakeFirst(
      log,
      {OptionSource(options, "sides", SidesMeaning), OptionSource(options, "Duplex", DuplexMeaning),
       DefaultSource(ppd, "Duplex", DuplexMeaning)},
      "duplex", job.duplex, &job.binding);
}

// CUPS puts print-color-mode=color on every job of a colour queue, also when the job's ColorModel
// asks the driver for grey: a ColorModel the job carries then says what the device prints.
void ResolveColour(std::ostream& log, JobInfo& job, const OptionsMap& options, const PpdFile& ppd) {
  Source mode = OptionSource(options, "print-color-mode", ColorModeMeaning);
  if (mode.meaning && std::string(mode.meaning->result) == "Color" &&
      options.count("ColorModel") != 0)
    mode.meaning = nullptr;
  TakeFirst(log,
            {mode, OptionSource(options, "ColorModel", ColorModelMeaning),
             DefaultSource(ppd, "ColorModel", ColorModelMeaning)},
            "color", job.color, nullptr);
}

}  // namespace

bool DriverModelNamesColour(std::ostream& log, const std::string& driverModel) {
  bool colour = findCaseInsensitive(driverModel, "Color") != std::string::npos;
  Log(log, colour ? "driver contain Color" : "driver contain Grayscale");
  return colour;
}

void ApplyPdfSettings(std::ostream& log, JobInfo& job, const std::string& driverModel,
                      const JobOptions& options, const PpdFile& ppd) {
  job.color = DriverModelNamesColour(log, driverModel) ? "Color" : "Grayscale";
  bool dialogColour = false;
  bool dialogDuplex = false;
  for (const OptionPair& setting : options.settings) {
    dialogColour = dialogColour || setting.first == kColorKey;
    dialogDuplex = dialogDuplex || setting.first == kDuplexKey;
    for (const SettingRule& rule : kSettingRules) {
      if (setting.first == rule.key && setting.second == rule.value)
        job.*rule.field = rule.result;
    }
  }
  if (!dialogDuplex)
    ResolveDuplex(log, job, options.map, ppd);
  if (!dialogColour)
    ResolveColour(log, job, options.map, ppd);
}

}  // namespace vp
