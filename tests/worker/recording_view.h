#pragma once

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/update_request.h"
#include "engine/window_steps.h"

namespace quillon::testing {

// A window that writes down every step an update takes on it, in order:
// "status:TEXT", "pos:N", "range:L-H", "blink:0|1", "busy:start|stop",
// "button:0|1", "app:TEXT", "box:TEXT|CAPTION|TYPE"; and the end's values.
class RecordingView : public WindowSteps {
public:
    std::string bootFolder;
    std::uint32_t startAddress = 0x800001A0;
    int baudRate = 115200;
    int comPort = 1;
    std::string device;
    LineMaker makeLine;
    std::string projectPath;
    std::string imagePath;

    // What an update of these values works with.
    UpdateRequest Request() const {
        UpdateRequest request;
        request.bootFolder = bootFolder;
        request.startAddress = startAddress;
        request.baudRate = baudRate;
        request.comPort = comPort;
        request.device = device;
        request.makeLine = makeLine;
        request.projectPath = projectPath;
        request.imagePath = imagePath;
        request.lock = &m_mutex;
        return request;
    }

    std::timed_mutex& UpdateMutex() { return m_mutex; }
    // Updates that overlap (one takes the lock as the other tells its end)
    // reach the window one event at a time, as its queue hands them over.
    UpdateListener& Queue() { return m_queue; }
    // The last update's end.
    UpdateResult Result() const {
        std::lock_guard<std::mutex> guard(m_eventsMutex);
        return m_result;
    }

protected:
    void EnableUpdateButton(bool enable) override { Add(enable ? "button:1" : "button:0"); }
    void StartBusy(unsigned id) override { Add("busy:start" + std::to_string(id)); }
    void StopBusy(unsigned id) override { Add("busy:stop" + std::to_string(id)); }
    void SetStatusText(const std::string& text) override { Add("status:" + text); }
    void SetStatusBlink(bool on) override { Add(on ? "blink:1" : "blink:0"); }
    void SetProgressRange(int low, int high) override {
        Add("range:" + std::to_string(low) + "-" + std::to_string(high));
    }
    void SetProgressPos(int pos) override { Add("pos:" + std::to_string(pos)); }
    void AppMessageBox(const std::string& text) override { Add("app:" + text); }
    void WindowMessageBox(const std::string& text, const std::string& caption,
                          unsigned type) override {
        Add("box:" + text + "|" + caption + "|" + std::to_string(type));
    }
    void UpdateEnded(const UpdateResult& result) override {
        std::lock_guard<std::mutex> guard(m_eventsMutex);
        m_result = result;
    }

public:
    std::vector<std::string> Events() const {
        std::lock_guard<std::mutex> guard(m_eventsMutex);
        return m_events;
    }

    bool Saw(const std::string& event) const {
        auto events = Events();
        return std::find(events.begin(), events.end(), event) != events.end();
    }

    // Events of one kind ("status:", "pos:"), without duplicates in a row.
    std::vector<std::string> Distinct(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& event : Events()) {
            if (event.rfind(prefix, 0) != 0) {
                continue;
            }
            std::string value = event.substr(prefix.size());
            if (out.empty() || out.back() != value) {
                out.push_back(value);
            }
        }
        return out;
    }

    bool WaitFor(const std::string& event,
                 std::chrono::milliseconds limit = std::chrono::seconds(20)) const {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (!Saw(event)) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // The message box of the end, or "" when none was shown.
    std::string Ending() const {
        for (const std::string& event : Events()) {
            if (event.rfind("box:", 0) == 0 || event.rfind("app:", 0) == 0) {
                return event;
            }
        }
        return {};
    }

private:
    void Add(std::string event) {
        std::lock_guard<std::mutex> guard(m_eventsMutex);
        m_events.push_back(std::move(event));
    }

    struct OneAtATime : UpdateListener {
        explicit OneAtATime(WindowSteps& steps) : window(steps) {}
        void On(const UpdateEvent& event) override {
            std::scoped_lock guard(mutex);
            window.On(event);
        }
        WindowSteps& window;
        std::mutex mutex;
    } m_queue{*this};
    mutable std::timed_mutex m_mutex;
    mutable std::mutex m_eventsMutex;
    std::vector<std::string> m_events;
    UpdateResult m_result;
};

}  // namespace quillon::testing
