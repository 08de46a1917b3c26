#include "attributes/ppd_file.h"

#include <gtest/gtest.h>

#include "attributes/device_code.h"
#include "attributes/driver_features.h"
#include "tests/support/scratch_dir.h"

namespace vp {

namespace {

TEST(PpdCode, HexAndWhatTheCodeSets) {
  struct Case {
    std::string code, color, duplex, binding, said;
  } cases[] = {
      {"@PJL SET DUPLEX=ON<0A>@PJL SET BINDING=SHORTEDGE<0a>", "", "TwoSided", "SHORTEDGE",
       "@PJL SET DUPLEX=ON @PJL SET BINDING=SHORTEDGE"},
      {"<</Duplex true /Tumble false>> setpagedevice", "", "TwoSided", "LONGEDGE",
       "/Duplex true /Tumble false"},
      {"<< /DuplexMode true /Duplex\nfalse >>", "", "OneSided", "", "/Duplex false"},
      {"<</ProcessColorModel/DeviceCMY>>", "Color", "", "", "/ProcessColorModel /DeviceCMY"},
      {"<< /ProcessColorModel (DeviceGray) >>", "Grayscale", "", "",
       "/ProcessColorModel /DeviceGray"},
      {"/ProcessColorModel /DeviceGray /ProcessColorModel /DeviceRGB", "Color", "", "",
       "/ProcessColorModel /DeviceGray /ProcessColorModel /DeviceRGB"},
      {"@PJL SET GRAYSCALE=BLACKONLY\n@PJL SET DATAMODE = COLOR", "Color", "", "",
       "@PJL SET GRAYSCALE=BLACKONLY @PJL SET DATAMODE = COLOR"},
      {"@pjl set rendermode=grayscale", "", "", "", ""},  // "@PJL" itself is written in capitals
      {"@PJL SET RenderMode=GrayScale", "Grayscale", "", "", "@PJL SET RenderMode=GrayScale"},
      {"<1B>%-12345X@PJL SET GRAYSCALE=ON <0D 0A>", "Grayscale", "", "", "@PJL SET GRAYSCALE=ON"},
      {"userdict /ARCMode (Mono) put <GG> <0>", "", "", "", ""},
      {"statusdict /duplexer get exec {<</Duplex true /Tumble true>> setpagedevice}\n"
       "{<</Duplex false>> setpagedevice} ifelse",
       "", "TwoSided", "SHORTEDGE", "/Duplex true /Tumble true"},
  };
  for (const Case& c : cases) {
    CodeEffect effect = ReadDeviceCode(DecodePpdHex(c.code));
    EXPECT_EQ(effect.set.color, c.color) << c.code;
    EXPECT_EQ(effect.set.duplex, c.duplex) << c.code;
    EXPECT_EQ(effect.set.binding, c.binding) << c.code;
    EXPECT_EQ(effect.said, c.said) << c.code;
  }
  EXPECT_EQ(DecodePpdHex("<</A <41 42>>> <4>"), "<</A AB>> <4>");
}

using PpdFileTest = ScratchDirTest;

TEST_F(PpdFileTest, OptionsDefaultsAndModel) {
  const std::string path = Write(
      "*PPD-Adobe: \"4.3\"\n*% *ColorDevice: False\n*ModelName: \"Sharp MX-2640N\"\r\n"
      "*ColorDevice: True\n*OpenUI *ARCMode/Colour Mode: PickOne\n*DefaultARCMode: Color\n"
      "*ARCMode Color/Colour: \"<</ProcessColorModel /DeviceCMYK>>\nsetpagedevice\"\n*End\n"
      "*ARCMode Mono/Black: \"\"\n*ARCMode Color/Again: \"ignored\"\n*CloseUI: *ARCMode\n"
      "*DefaultPageSize: Letter\n*PageSize Letter/US Letter: \"<</PageSize[612 792]>>\"\n");
  PpdFile ppd = ReadPpd(path);
  EXPECT_TRUE(ppd.readable);
  EXPECT_EQ(ppd.modelName, "Sharp MX-2640N");
  EXPECT_EQ(ppd.colorDevice, true);
  EXPECT_EQ(ppd.Default("PageSize"), "Letter");
  EXPECT_EQ(ppd.Default("Duplex"), "");
  const PpdOption* mode = ppd.Find("ARCMode");
  ASSERT_NE(mode, nullptr);
  EXPECT_TRUE(mode->userInterface);
  EXPECT_FALSE(ppd.Find("PageSize")->userInterface);
  ASSERT_EQ(mode->choices.size(), 2u);
  EXPECT_EQ(mode->Find("Color")->code, "<</ProcessColorModel /DeviceCMYK>>\nsetpagedevice");
  EXPECT_EQ(mode->Find("Mono")->code, "");
  EXPECT_FALSE(ReadPpd(dir_ + "missing.ppd").readable);
  EXPECT_FALSE(ReadPpd("/dev/zero").readable);
  EXPECT_FALSE(ReadPpd(dir_).readable);
}

TEST_F(PpdFileTest, WhatABoundLeftOutIsSaid) {
  const std::string longCode(kLongestCode + 10, 'x');
  PpdFile ppd =
      ReadPpd(Write("*OpenUI *A: PickOne\n*A Long: \"" + longCode + "\"\n*A Short: \"y\"\n"));
  ASSERT_EQ(ppd.Find("A")->choices.size(), 2u);
  EXPECT_TRUE(ppd.Find("A")->Find("Long")->codeCut);
  EXPECT_EQ(ppd.Find("A")->Find("Long")->code, longCode.substr(0, kLongestCode));
  EXPECT_FALSE(ppd.Find("A")->Find("Short")->codeCut);
  EXPECT_TRUE(ppd.limits.empty());

  std::string many;
  for (size_t i = 0; i <= kMostOptions; ++i)
    many += "*DefaultO" + std::to_string(i) + ": X\n";
  ppd = ReadPpd(Write(many + std::string(kLargestPpd, '\n') + "*ModelName: \"Late\"\n"));
  EXPECT_EQ(ppd.options.size(), kMostOptions);
  EXPECT_EQ(ppd.modelName, "");
  ASSERT_EQ(ppd.limits.size(), 2u);
  EXPECT_NE(ppd.limits[0].find("only its start was read"), std::string::npos);
  EXPECT_NE(ppd.limits[1].find("the later ones were not read"), std::string::npos);
}

TEST_F(PpdFileTest, FeaturesComeFromTheHeaderAndSetupInAnyBlockSize) {
  const std::string longLine(10000, 'x');
  const std::string data =
      "\x1b%-12345X@PJL JOB\r\n@PJL SET DUPLEX=ON<0A>@PJL SET BINDING=SHORTEDGE\n"
      "@PJL ENTER LANGUAGE=POSTSCRIPT\n%!PS-Adobe-3.0\n@PJL SET DUPLEX=OFF\n" +
      longLine +
      "%%BeginFeature: *Duplex None\n%%BeginFeature: *ColorModel Gray\r\n"
      "%%IncludeFeature: *Duplex DuplexTumble\n%%BeginFeature: *Resolution\n"
      "%%Page: 1 1\n%%BeginFeature: *InputSlot Tray2\n%%EndPageSetup\n"
      "%%BeginFeature: *Staple On\n";
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"", "@PJL JOB"},
      {"", "@PJL SET DUPLEX=ON"},
      {"", "@PJL SET BINDING=SHORTEDGE"},
      {"", "@PJL ENTER LANGUAGE=POSTSCRIPT"},
      {"ColorModel", "Gray"},
      {"Duplex", "DuplexTumble"},
      {"Resolution", ""},
      {"InputSlot", "Tray2"}};
  const std::string path = Write(data, ".ps");
  for (size_t block : {1, 7, 4096, 65536}) {
    std::vector<std::pair<std::string, std::string>> read;
    for (const DriverFeature& f : ReadDriverFeatures(path, block))
      read.emplace_back(f.option, f.choice);
    EXPECT_EQ(read, expected) << block;
  }
  EXPECT_TRUE(ReadDriverFeatures(dir_ + "missing.ps").empty());
  const std::string pcl = Write(
      "\x1b%-12345X@PJL SET DUPLEX=ON\n\x1b"
      "E\n%%BeginFeature: *A B\n");
  ASSERT_EQ(ReadDriverFeatures(pcl).size(), 1u);
  EXPECT_EQ(ReadDriverFeatures(pcl)[0].choice, "@PJL SET DUPLEX=ON");
  // Each PJL variable keeps its last value, in the place it was last set.
  const std::string again =
      Write("@PJL SET DUPLEX=ON\n@PJL SET BINDING=SHORTEDGE\n@PJL set Duplex = OFF\n%!PS\n");
  std::vector<std::pair<std::string, std::string>> read;
  for (const DriverFeature& f : ReadDriverFeatures(again))
    read.emplace_back(f.option, f.choice);
  EXPECT_EQ(read, (std::vector<std::pair<std::string, std::string>>{
                      {"", "@PJL SET BINDING=SHORTEDGE"}, {"", "@PJL set Duplex = OFF"}}));
}

}  // namespace

}  // namespace vp
