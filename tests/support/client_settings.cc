#include "tests/support/client_settings.h"

namespace {

std::string XmlText(const std::string& text) {
  std::string escaped;
  for (char c : text)
    escaped += c == '&' ? "&amp;" : c == '<' ? "&lt;" : std::string(1, c);
  return escaped;
}

std::string Entry(const std::string& key, const std::string& value) {
  return "<key>" + key + "</key><string>" + XmlText(value) + "</string>\n";
}

}  // namespace

std::string ClientSettingsPlist(const std::string& serverIp, const std::string& userName,
                                const std::string& password) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n<key>quoradex</key>\n<dict>\n" +
         Entry("PassWord", "not-this-one") + Entry("PassWord2", password) +
         Entry("ServerIp", serverIp) + Entry("UserName", userName) + "</dict>\n</dict>\n</plist>\n";
}
