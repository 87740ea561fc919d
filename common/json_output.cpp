#include "common/json_output.h"

namespace reel {

std::string JsonLine(const JsonValue& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace reel
