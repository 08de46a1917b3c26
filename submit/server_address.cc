#include "submit/server_address.h"

namespace vp {

bool isHttpsAddress(const std::string& address) {
  return address.starts_with("https");
}

std::string serverBaseAddress(const std::string& serverIp) {
  return isHttpsAddress(serverIp) ? serverIp : "http://" + serverIp;
}

void SkipCertificateChecksForHttps(CURL* curl, const std::string& address) {
  if (!isHttpsAddress(address))
    return;
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
}

}  // namespace vp
