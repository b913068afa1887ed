#include "station/update_thread.h"

#include "engine/update_worker.h"

namespace quillon {

UpdateThread::~UpdateThread() {
    RequestStop();
    Join();
}

void UpdateThread::Start(UpdateView& view, UpdateRequest request, std::function<void()> ended) {
    Join();
    m_thread = std::jthread(
        [&view, request = std::move(request), ended = std::move(ended)](std::stop_token stop) {
            UpdateWorker::Run(view, request, stop);
            if (ended) {
                ended();
            }
        });
}

void UpdateThread::RequestStop() {
    m_thread.request_stop();
}

void UpdateThread::Join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

}  // namespace quillon
