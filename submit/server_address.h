#pragma once

#include <curl/curl.h>

#include <string>

namespace vp {

// The server's base address: "http://" followed by the server setting, or the setting alone when
// it already carries an https scheme. Login and upload share it.
std::string serverBaseAddress(const std::string& serverIp);

// Whether an address starts with "https".
bool isHttpsAddress(const std::string& address);

// On-site servers use self-signed certificates, so requests to an https address go out without
// certificate checks. Login and upload both call this.
void SkipCertificateChecksForHttps(CURL* curl, const std::string& address);

}  // namespace vp
