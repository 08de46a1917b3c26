#include "dispatch/pdf_settings.h"

#include <sstream>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/ppd_defaults.h"

namespace vp {

namespace {

const std::string kColorKey = "com.apple.print.PrintSettings.PMColorSpaceModel..n.";
const std::string kDuplexKey = "com.apple.print.PrintSettings.PMDuplexing..n.";

TEST(ApplyPdfSettings, DialogSettingsSetColourAndDuplex) {
  struct Case {
    std::string name;
    std::string startColor;
    std::string options;
    std::string color, duplex, binding;
    std::string ppd = "";                   // the queue's PPD entries; none when empty
    std::vector<std::string> sources = {};  // the plain lines naming what decided
  } cases[] = {
      {"none", "Grayscale", "", "Grayscale", "OneSided", ""},
      {"long edge", "Grayscale", kDuplexKey + "=2", "Grayscale", "TwoSided", "LONGEDGE"},
      {"short edge", "Grayscale", kDuplexKey + "=3", "Grayscale", "TwoSided", "SHORTEDGE"},
      {"one-sided", "Grayscale", kDuplexKey + "=1", "Grayscale", "OneSided", ""},
      {"colour over driver", "Grayscale", kColorKey + "=2", "Color", "OneSided", ""},
      {"gray over driver", "Color", kColorKey + "=1", "Grayscale", "OneSided", ""},
      {"unknown colour value", "Color", kColorKey + "=3", "Color", "OneSided", ""},
      {"value not one character", "Grayscale", kColorKey + "=22 " + kDuplexKey + "=02", "Grayscale",
       "OneSided", ""},
      {"key case differs", "Grayscale",
       "com.apple.print.PrintSettings.pmduplexing..n.=2 "
       "com.apple.print.PrintSettings.PMColorSpaceModel..N.=2",
       "Grayscale", "OneSided", ""},
      {"key without ..n.", "Grayscale",
       "com.apple.print.PrintSettings.PMDuplexing=2 "
       "com.apple.print.PrintSettings.PMColorSpaceModel=2",
       "Grayscale", "OneSided", ""},
      {"last duplex wins", "Grayscale", kDuplexKey + "=2 " + kDuplexKey + "=3", "Grayscale",
       "TwoSided", "SHORTEDGE"},
      {"unrecognised later value keeps earlier", "Grayscale",
       kDuplexKey + "=3 " + kDuplexKey + "=1 " + kColorKey + "=2 " + kColorKey + "=x", "Color",
       "TwoSided", "SHORTEDGE"},
      {"last colour wins", "Grayscale", kColorKey + "=2 a=b " + kColorKey + "=1", "Grayscale",
       "OneSided", ""},
      {"sides long edge",
       "Grayscale",
       "sides=two-sided-long-edge",
       "Grayscale",
       "TwoSided",
       "LONGEDGE",
       "",
       {"duplex TwoSided from sides=two-sided-long-edge"}},
      {"sides before Duplex",
       "Grayscale",
       "Duplex=DuplexTumble sides=one-sided",
       "Grayscale",
       "OneSided",
       "",
       "",
       {"duplex OneSided from sides=one-sided"}},
      {"Duplex option",
       "Grayscale",
       "Duplex=DuplexTumble",
       "Grayscale",
       "TwoSided",
       "SHORTEDGE",
       "",
       {"duplex TwoSided from Duplex=DuplexTumble"}},
      {"unknown sides, then the PPD's default",
       "Grayscale",
       "sides=sideways",
       "Grayscale",
       "TwoSided",
       "LONGEDGE",
       "*DefaultDuplex: DuplexNoTumble\n",
       {"duplex TwoSided from *DefaultDuplex DuplexNoTumble"}},
      {"dialog one-sided over sides", "Grayscale", kDuplexKey + "=1 sides=two-sided-long-edge",
       "Grayscale", "OneSided", "", "*DefaultDuplex: DuplexTumble\n"},
      {"monochrome mode",
       "Color",
       "print-color-mode=monochrome",
       "Grayscale",
       "OneSided",
       "",
       "",
       {"color Grayscale from print-color-mode=monochrome"}},
      {"colour mode alone",
       "Grayscale",
       "print-color-mode=color",
       "Color",
       "OneSided",
       "",
       "",
       {"color Color from print-color-mode=color"}},
      {"ColorModel over the colour mode CUPS adds",
       "Color",
       "ColorModel=KGray print-color-mode=color",
       "Grayscale",
       "OneSided",
       "",
       "",
       {"color Grayscale from ColorModel=KGray"}},
      {"any other ColorModel is colour",
       "Grayscale",
       "ColorModel=CMY",
       "Color",
       "OneSided",
       "",
       "",
       {"color Color from ColorModel=CMY"}},
      {"PPD's default colour model",
       "Color",
       "",
       "Grayscale",
       "OneSided",
       "",
       "*DefaultColorModel: Gray\n*DefaultDuplex: None\n",
       {"duplex OneSided from *DefaultDuplex None",
        "color Grayscale from *DefaultColorModel Gray"}},
      {"dialog colour over the colour mode", "Grayscale",
       kColorKey + "=2 print-color-mode=monochrome", "Color", "OneSided", "", ""},
  };
  for (const Case& c : cases) {
    JobInfo job;
    job.duplex = "OneSided";
    job.pages = "1";
    // The driver model names the starting colour.
    const bool colour = c.startColor == "Color";
    std::ostringstream log;
    ApplyPdfSettings(log, job, colour ? "HP Color LaserJet" : "HP LaserJet",
                     ReadJobOptions(c.options), PpdWithDefaults(c.ppd));
    EXPECT_EQ(job.color, c.color) << c.name;
    EXPECT_EQ(job.duplex, c.duplex) << c.name;
    EXPECT_EQ(job.binding, c.binding) << c.name;
    EXPECT_EQ(job.pages, "1") << c.name;
    std::vector<std::string> sources = {colour ? "driver contain Color"
                                               : "driver contain Grayscale"};
    sources.insert(sources.end(), c.sources.begin(), c.sources.end());
    EXPECT_EQ(Unstamped(log.str()), sources) << c.name;
  }
}

}  // namespace

}  // namespace vp
