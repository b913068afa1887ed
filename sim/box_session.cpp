#include "sim/box_session.h"

#include <algorithm>
#include <cstdio>

#include "initfiles/packet_file.h"
#include "initfiles/wire.h"
#include "platform/file.h"

namespace quillon::sim {

using namespace std::chrono_literals;

namespace {

// Any code but 0x00 and 0x11 accepts a record; 0x00 after the handshake
// record would mean "no verdict yet".
constexpr std::uint8_t kAccepted = 0x06;
constexpr auto kExecSilence = 50ms;  // no more records: the execute command was the last
constexpr auto kResyncQuiet = 30ms;
// Longer than a reader waits for the rest of a frame, so that it sees a cut
// frame as cut.
constexpr auto kCutFrameGap = 200ms;
// Silence this long inside a record ends it: the tool has given up on it.
constexpr auto kRecordGap = 500ms;
constexpr int kBurnReports = 8;

std::vector<std::uint8_t> Word(std::uint16_t value) {
    return {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

std::vector<std::uint8_t> Dword(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

}  // namespace

BoxSession::BoxSession(BoxLink& link, const BoxOptions& options, int& dumpCount)
    : m_link(link), m_options(options), m_dumpCount(dumpCount) {}

BoxSession::End BoxSession::Run() {
    if (!Reply(kReplyReady)) {
        return End::ToolLeft;
    }
    bool execPending = false;
    while (true) {
        switch (AwaitRecord(execPending)) {
            case Next::Silence:
                if (!m_options.silentAfterExec) {
                    return Burn();
                }
                execPending = false;
                continue;
            case Next::Closed:
                return End::ToolLeft;
            case Next::Stopped:
                return End::Stopped;
            case Next::Record:
                break;
        }
        std::vector<std::uint8_t> record;
        bool framed = false;
        BoxLink::Wait wait = ReadRecord(record, framed);
        if (wait == BoxLink::Wait::Quiet) {
            return End::Dropped;
        }
        if (wait != BoxLink::Wait::Data) {
            return wait == BoxLink::Wait::Stopped ? End::Stopped : End::ToolLeft;
        }
        ++m_index;
        ++m_counts.records;
        m_counts.bytes += record.size();
        Dump(record);
        if (m_options.hangUpAfterRecord == m_index) {
            return End::HangUp;
        }
        bool ok = framed && CheckRecord(record.data(), record.size()).Ok();
        bool accepted = ok && m_options.rejectRecord != m_index;
        execPending = accepted && record[1] == CMD_EXEC_ADDRESS;
        if (!Answer(accepted)) {
            return End::ToolLeft;
        }
    }
}

BoxSession::Next BoxSession::AwaitRecord(bool execPending) {
    while (true) {
        switch (m_link.WaitInput(execPending ? kExecSilence : 1000ms)) {
            case BoxLink::Wait::Data:
                return Next::Record;
            case BoxLink::Wait::Quiet:
                if (execPending) {
                    return Next::Silence;
                }
                continue;
            case BoxLink::Wait::Closed:
                return Next::Closed;
            case BoxLink::Wait::Stopped:
                return Next::Stopped;
        }
    }
}

// A header that cannot start a record (no sync byte, a length below the
// header's own four bytes) leaves no way to find the record's end: the
// rest is thrown away until the line is quiet.
BoxLink::Wait BoxSession::ReadRecord(std::vector<std::uint8_t>& record, bool& framed) {
    record.resize(kRecordHeaderSize);
    BoxLink::Wait wait = m_link.ReadExact(record.data(), record.size(), kRecordGap);
    if (wait != BoxLink::Wait::Data) {
        return wait;
    }
    std::uint16_t length = ReadWordBE(record.data() + 2);
    framed = record[0] == kRecordSync && length >= kRecordHeaderSize;
    if (!framed) {
        return m_link.DrainUntilQuiet(kResyncQuiet);
    }
    record.resize(RecordSizeFor(length));
    wait = m_link.ReadExact(record.data() + kRecordHeaderSize, record.size() - kRecordHeaderSize,
                            kRecordGap);
    if (wait == BoxLink::Wait::Data && !m_link.AwaitSchedule()) {
        return BoxLink::Wait::Stopped;
    }
    return wait;
}

bool BoxSession::Answer(bool accepted) {
    if (m_options.silentRecord == m_index || (m_index == 1 && m_options.noHandshakeVerdict)) {
        return true;
    }
    if (!accepted) {
        ++m_counts.rejected;
        return Reply(kReplyRejected);
    }
    return Reply(kAccepted);
}

std::vector<std::uint8_t> BoxSession::Noise() const {
    static constexpr std::uint8_t kNoise[] = {0x55, 0x12, 0x33, 0x7E, 0x00, 0xF0};
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < m_options.noiseBytes; ++i) {
        bytes.push_back(kNoise[i % std::size(kNoise)]);
    }
    return bytes;
}

// Noise and reply in one write: a reader skips what comes before the sync
// byte only while it has already arrived.
bool BoxSession::Reply(std::uint8_t code) {
    std::vector<std::uint8_t> bytes = Noise();
    bytes.push_back(kReplySync);
    bytes.push_back(code);
    return m_link.Send(bytes);
}

bool BoxSession::Report(std::uint8_t code, const std::vector<std::uint8_t>& data, bool cut) {
    std::vector<std::uint8_t> bytes = Noise();
    bytes.push_back(kReportMarker);
    bytes.push_back(code);
    bytes.insert(bytes.end(), data.begin(), cut ? data.begin() + data.size() / 2 : data.end());
    if (!m_link.Send(bytes)) {
        return false;
    }
    return !cut || m_link.Sleep(kCutFrameGap);
}

bool BoxSession::Erase(std::uint32_t sectors) {
    if (!Report(kReportEraseBegun, {}, false)) {
        return false;
    }
    for (std::uint32_t done = 1; done <= sectors; ++done) {
        if (!m_link.Sleep(m_options.eraseTime / sectors)) {
            return false;
        }
        std::vector<std::uint8_t> data = Word(static_cast<std::uint16_t>(done));
        std::vector<std::uint8_t> all = Word(static_cast<std::uint16_t>(sectors));
        data.insert(data.end(), all.begin(), all.end());
        bool cut = m_options.partialFrames && done % 2 == 1 && done != sectors;
        if (!Report(kReportErased, data, cut)) {
            return false;
        }
    }
    return true;
}

BoxSession::End BoxSession::Burn() {
    std::uint64_t bytes = m_counts.bytes;
    std::uint64_t perSector = static_cast<std::uint64_t>(std::max(1, m_options.bytesPerSector));
    auto sectors = static_cast<std::uint32_t>(
        std::clamp<std::uint64_t>((bytes + perSector - 1) / perSector, 1, 0xFFFF));
    auto total = static_cast<std::uint32_t>(bytes);
    if (!Erase(sectors) || !Report(kReportBurnTotal, Dword(total), false)) {
        return m_link.Stopped() ? End::Stopped : End::ToolLeft;
    }
    for (int step = 1; step <= kBurnReports; ++step) {
        bool cut = m_options.partialFrames && step % 2 == 1;
        auto burnt = static_cast<std::uint32_t>(std::uint64_t{total} * step / kBurnReports);
        if (!m_link.Sleep(m_options.burnTime / kBurnReports) ||
            !Report(kReportBurnt, Dword(burnt), cut)) {
            return m_link.Stopped() ? End::Stopped : End::ToolLeft;
        }
    }
    if (!Report(m_options.reportFailure ? kReportFailed : kReportSucceeded, {}, false)) {
        return End::ToolLeft;
    }
    return End::Verdict;
}

void BoxSession::Dump(const std::vector<std::uint8_t>& record) {
    if (m_options.dumpFolder.empty()) {
        return;
    }
    char name[32];
    std::snprintf(name, sizeof name, "/record-%04d", ++m_dumpCount);
    File file;
    std::string path = m_options.dumpFolder + name;
    try {
        if (!file.Open(path, File::Mode::CreateFreshShared)) {
            m_counts.lastError = "cannot write " + path;
            return;
        }
        file.Write(record.data(), record.size());
    } catch (const FileError& error) {
        m_counts.lastError = path + ": " + error.Reason();
    }
}

}  // namespace quillon::sim
