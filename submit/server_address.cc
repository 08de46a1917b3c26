#include "submit/server_address.h"

bool isHttpsAddress(const std::string& address) {
  return address.starts_with("https");
}

std::string serverBaseAddress(const std::string& serverIp) {
  return isHttpsAddress(serverIp) ? serverIp : "http://" + serverIp;
}
