#pragma once

#include <string>

// The server's base address: "http://" followed by the server setting, or the setting alone when
// it already carries an https scheme. Login and upload share it.
std::string serverBaseAddress(const std::string& serverIp);

// Whether an address starts with "https". On-site servers use self-signed certificates, so such
// requests go out without certificate checks.
bool isHttpsAddress(const std::string& address);
