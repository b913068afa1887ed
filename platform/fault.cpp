#include "platform/fault.h"

#include <cstring>

namespace quillon {

Fault Fault::OfErrno(int code) {
    return {std::strerror(code), code};
}

}  // namespace quillon
