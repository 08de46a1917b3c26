#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace vp {

// A JSON text read without exceptions: the value, or the library's own message on the first
// error (as its parse_error would say it).
struct JsonReading {
  nlohmann::json value;
  std::string error;

  bool ok() const { return error.empty(); }
};

JsonReading ReadJson(const std::string& text);

// The library's words for what its checked access would refuse: at() on anything but an object,
// a key that is not there, a text read from anything but a string.
std::string NotAnObjectError(const nlohmann::json& value);
std::string MissingKeyError(const std::string& key, const nlohmann::json& object);
std::string NotAStringError(const nlohmann::json& value);

// The member `key` of `object` as text; empty with `error` set as the library would word it
// when `object` is no object, lacks the key or holds no string there.
std::string StringMember(const nlohmann::json& object, const std::string& key, std::string& error);

}  // namespace vp
