#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "engine/update_request.h"
#include "engine/update_view.h"

namespace quillon {

// One update on a thread of its own, for a face that runs one at a time:
// the worker, the stop request that ends it cleanly, and word of its end.
class UpdateThread {
public:
    UpdateThread() = default;
    ~UpdateThread();
    UpdateThread(const UpdateThread&) = delete;
    UpdateThread& operator=(const UpdateThread&) = delete;

    // Runs the update; ended is called on the update's thread once the
    // worker has returned (files removed, port released, lock let go).
    void Start(UpdateView& view, UpdateRequest request, std::function<void()> ended);
    // Asks the update to end; it does within about 100 ms.
    void RequestStop();
    // Waits for the thread of the last update, which has ended or is ending.
    void Join();
    bool Joinable() const { return m_thread.joinable(); }

private:
    std::jthread m_thread;
};

}  // namespace quillon
