#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace quillon {

// JSON as the tool writes it: records, events and reports keep their
// fields in the order they are written.
using Json = nlohmann::ordered_json;

// The text of a value, its line end included: one line, or spread over
// lines indent wide for a person. Invalid UTF-8 in a path or a reason is
// replaced, never a broken line.
std::string JsonText(const Json& value, int indent = -1);

}  // namespace quillon
