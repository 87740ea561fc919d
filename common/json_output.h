// JSON as the programs write it: nlohmann's ordered objects (keys stay in the order they are set),
// dumped compact, one value a line.
//
// File names are bytes, not always UTF-8. A name that is not valid UTF-8 is written with each
// invalid byte sequence replaced by U+FFFD, so the line is always valid JSON and a reader sees
// plainly where the name could not be represented; valid UTF-8 (動画.qrx) is written as it is.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace reel {

using JsonValue = nlohmann::ordered_json;

// `value` compact, followed by "\n".
std::string JsonLine(const JsonValue& value);

}  // namespace reel
