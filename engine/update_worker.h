#pragma once

#include <stop_token>
#include <string>
#include <vector>

#include "engine/update_request.h"
#include "engine/update_view.h"

namespace quillon {

class UpdateWorker {
public:
    // Runs one whole update against the view, with the values of the
    // request. A stop request ends it within about 100 ms, with its packet
    // files deleted and the port released. With a series built beforehand,
    // the update sends that one (several lines or box after box share it)
    // instead of writing its own; every step, text and reply is the same.
    static UpdateOutcome Run(UpdateListener& listener, const UpdateRequest& request,
                             std::stop_token stop = {});
};

}  // namespace quillon
