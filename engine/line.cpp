#include "engine/line.h"

#include "platform/serial_line.h"

namespace quillon {

namespace {

class SerialLineAdapter final : public Line {
public:
    bool Open(const std::string& device, int baud) override { return m_line.Open(device, baud); }
    std::size_t Read(void* buffer, std::size_t count) override {
        return m_line.Read(buffer, count);
    }
    std::size_t Write(const void* buffer, std::size_t count,
                      std::chrono::milliseconds timeout) override {
        return m_line.Write(buffer, count, timeout);
    }
    Wait WaitReadable(std::chrono::milliseconds timeout) override {
        switch (m_line.WaitReadable(timeout)) {
            case SerialLine::Wait::Readable:
                return Wait::Readable;
            case SerialLine::Wait::TimedOut:
                return Wait::TimedOut;
            case SerialLine::Wait::Stopped:
                return Wait::Stopped;
            case SerialLine::Wait::Gone:
                break;
        }
        return Wait::Gone;
    }
    int OutputQueued() const override { return m_line.OutputQueued(); }
    bool IsGone() const override { return m_line.IsGone(); }
    void SetStopToken(std::stop_token token) override { m_line.SetStopToken(std::move(token)); }
    const Fault& LastFault() const override { return m_line.LastFault(); }
    int Baud() const override { return m_line.Baud(); }

private:
    SerialLine m_line;
};

}  // namespace

std::unique_ptr<Line> MakeSerialLine() {
    return std::make_unique<SerialLineAdapter>();
}

}  // namespace quillon
