#include "dispatch/ppd_meaning.h"

#include <sstream>

#include <gtest/gtest.h>

namespace vp {

namespace {

PpdFile ReadablePpd() {
  PpdFile ppd;
  ppd.readable = true;
  return ppd;
}

PpdFile DuplexPpd() {
  PpdFile ppd = ReadablePpd();
  PpdOption duplex{"Duplex", "2-Sided", true, "None", {}};
  duplex.choices = {
      {"None", "Off", "<</Duplex false>>setpagedevice", false},
      {"DuplexNoTumble", "Long edge", "<</Duplex true/Tumble false>>setpagedevice", false},
      {"DuplexTumble", "Short edge", "<</Duplex true/Tumble true>>setpagedevice", false}};
  ppd.options.push_back(duplex);
  return ppd;
}

// The decision takes the features and the PPD as read: no file is opened.
TEST(ApplyPpdMeaning, DecidesFromTheFeaturesRead) {
  struct Case {
    std::string name;
    std::vector<DriverFeature> features;
    PpdFile ppd;
    std::string duplex, binding;
  } cases[] = {
      {"long edge", {{"Duplex", "DuplexNoTumble"}}, DuplexPpd(), "TwoSided", "LONGEDGE"},
      {"short edge", {{"Duplex", "DuplexTumble"}}, DuplexPpd(), "TwoSided", "SHORTEDGE"},
      {"last choice wins",
       {{"Duplex", "DuplexTumble"}, {"Duplex", "None"}},
       DuplexPpd(),
       "OneSided",
       ""},
      {"choice the PPD lacks", {{"Duplex", "Sideways"}}, DuplexPpd(), "", ""},
      {"PPD without a duplex option", {}, ReadablePpd(), "OneSided", ""},
      {"no readable PPD", {{"Duplex", "DuplexNoTumble"}}, PpdFile(), "", ""},
  };
  for (const Case& c : cases) {
    JobInfo job;
    std::ostringstream log;
    ApplyPpdMeaning(log, job, c.features, c.ppd);
    EXPECT_EQ(job.duplex, c.duplex) << c.name;
    EXPECT_EQ(job.binding, c.binding) << c.name;
  }
}

}  // namespace

}  // namespace vp
