#pragma once

#include <map>
#include <string>

namespace vp {

// The client application's settings as an XML property list whose dictionary "quoradex" holds
// these entries (for example ServerIp, UserName, PassWord2), all strings.
std::string ClientSettingsPlist(const std::map<std::string, std::string>& quoradex);

}  // namespace vp
