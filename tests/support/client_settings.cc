#include "tests/support/client_settings.h"

namespace vp {

namespace {

std::string XmlText(const std::string& text) {
  std::string escaped;
  for (char c : text)
    escaped += c == '&' ? "&amp;" : c == '<' ? "&lt;" : std::string(1, c);
  return escaped;
}

}  // namespace

std::string ClientSettingsPlist(const std::map<std::string, std::string>& quoradex) {
  std::string entries;
  for (const auto& [key, value] : quoradex) {
    entries += "\t\t<key>" + XmlText(key) + "</key>\n\t\t<string>" + XmlText(value) + "</string>\n";
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n\t<key>quoradex</key>\n\t<dict>\n" +
         entries + "\t</dict>\n</dict>\n</plist>\n";
}

}  // namespace vp
