#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine/update_worker.h"
#include "tests/cleanup_checks.h"
#include "tests/temp_dir.h"
#include "tests/worker/line_peer.h"
#include "tests/worker/recording_view.h"

namespace quillon::testing {

// The worker on a thread of its own, a window that writes its steps down,
// and a scripted box at the other end of the line.
class WorkerTest : public ::testing::Test {
protected:
    WorkerTest() {
        m_view.bootFolder = m_dir.Folder();
        m_view.device = m_peer.Device();
        m_view.makeLine = sim::InProcessToolEnd;
    }

    void TearDown() override {
        m_worker.request_stop();
        if (m_worker.joinable()) {
            m_worker.join();
        }
    }

    void StartWorker() {
        m_worker = std::jthread([this](std::stop_token stop) {
            m_outcome =
                static_cast<unsigned>(UpdateWorker::Run(m_view.Queue(), m_view.Request(), stop));
            m_done = true;
        });
    }

    unsigned Finish() {
        m_worker.join();
        return m_outcome;
    }

    void Handshake() {
        ASSERT_TRUE(m_peer.WaitOpened());
        m_peer.Send({0xAA, 0x01});
    }

    bool PacketFilesLeft() const { return PacketFilesIn(m_dir.Folder()); }

    bool PortReleased() const { return m_peer.Released(); }

    TempDir m_dir;
    LinePeer m_peer;
    RecordingView m_view;
    std::jthread m_worker;
    std::atomic<bool> m_done{false};
    unsigned m_outcome = 99;
};

}  // namespace quillon::testing
