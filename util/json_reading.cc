#include "util/json_reading.h"

namespace vp {

namespace {

// The library's DOM builder, which also keeps the message of the error that stopped it instead
// of throwing it.
class KeepingDomParser : public nlohmann::detail::json_sax_dom_parser<nlohmann::json> {
 public:
  KeepingDomParser(nlohmann::json& root, std::string& error)
      : json_sax_dom_parser(root, false), error_(error) {}

  template <class Exception>
  bool parse_error(std::size_t at, const std::string& token, const Exception& error) {
    error_ = error.what();
    return json_sax_dom_parser::parse_error(at, token, error);
  }

 private:
  std::string& error_;
};

}  // namespace

JsonReading ReadJson(const std::string& text) {
  JsonReading reading;
  KeepingDomParser parser(reading.value, reading.error);
  nlohmann::json::sax_parse(text, &parser);
  if (!reading.ok())
    reading.value = nlohmann::json(nlohmann::json::value_t::discarded);
  return reading;
}

std::string NotAnObjectError(const nlohmann::json& value) {
  return nlohmann::json::type_error::create(
             304, std::string("cannot use at() with ") + value.type_name(), &value)
      .what();
}

std::string MissingKeyError(const std::string& key, const nlohmann::json& object) {
  return nlohmann::json::out_of_range::create(403, "key '" + key + "' not found", &object).what();
}

std::string NotAStringError(const nlohmann::json& value) {
  return nlohmann::json::type_error::create(
             302, std::string("type must be string, but is ") + value.type_name(), &value)
      .what();
}

std::string StringMember(const nlohmann::json& object, const std::string& key, std::string& error) {
  if (!object.is_object()) {
    error = NotAnObjectError(object);
    return "";
  }
  auto member = object.find(key);
  if (member == object.end()) {
    error = MissingKeyError(key, object);
    return "";
  }
  if (!member->is_string()) {
    error = NotAStringError(*member);
    return "";
  }
  return member->get_ref<const std::string&>();
}

}  // namespace vp
