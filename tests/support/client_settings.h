#pragma once

#include <string>

// The client application's settings as an XML property list with a "quoradex" dictionary holding
// the server address and the credentials (and a "PassWord" the backend must not use).
std::string ClientSettingsPlist(const std::string& serverIp, const std::string& userName,
                                const std::string& password);
