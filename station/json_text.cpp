#include "station/json_text.h"

namespace quillon {

std::string JsonText(const Json& value, int indent) {
    return value.dump(indent, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace quillon
