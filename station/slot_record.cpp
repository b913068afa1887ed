#include "station/slot_record.h"

#include "platform/serial_devices.h"
#include "station/exit_codes.h"
#include "station/station.h"

namespace quillon {

namespace {

const char* const kCancelledCaption = "Cancelled";
const char* const kCancelledMessage = "Update cancelled; packet files removed, port released";

using Clock = TryClock::Clock;

double Seconds(Clock::time_point from, Clock::time_point to) {
    return from == Clock::time_point{} || to < from
               ? 0
               : std::chrono::duration<double>(to - from).count();
}

std::optional<AdapterFacts> AdapterOf(const std::string& device) {
    SerialDeviceInfo info = DescribeSerialDevice(device);
    if (info.vendorId.empty()) {
        return std::nullopt;
    }
    return AdapterFacts{info.vendorId, info.productId, info.maker, info.serial, info.byId};
}

const char* VerdictOf(UpdateOutcome outcome) {
    return outcome == UpdateOutcome::Cancelled ? "cancelled"
           : outcome == UpdateOutcome::Success ? "ok"
                                               : "failed";
}

}  // namespace

void TryClock::Phase(UpdatePhase phase, Clock::time_point now) {
    switch (phase) {
        case UpdatePhase::Starting:
            *this = {};
            break;
        case UpdatePhase::Waiting:
            m_waiting = now;
            break;
        case UpdatePhase::Preparing:
            m_answered = now;
            break;
        case UpdatePhase::Execute:
            m_executed = now;
            break;
        case UpdatePhase::Burn:
            if (m_burning == Clock::time_point{}) {
                m_burning = now;
            }
            break;
        default:
            break;
    }
}

PhaseTimes TryClock::Times(Clock::time_point end) const {
    bool answered = m_answered != Clock::time_point{};
    Clock::time_point executed = m_executed != Clock::time_point{} ? m_executed : end;
    Clock::time_point burnFrom = m_burning != Clock::time_point{} ? m_burning : end;
    return {Seconds(m_waiting, answered ? m_answered : end), Seconds(m_answered, executed),
            Seconds(m_executed, burnFrom), Seconds(m_burning, end)};
}

BoxRecord MakeBoxRecord(const BoxTries& box, const RecordContext& context) {
    const TryEnd& last = box.tries.back();
    const UpdateResult& result = last.result;
    BoxRecord record;
    record.start = box.tries.front().start;
    record.end = last.end;
    record.station = context.config.stationName;
    record.slot = context.slot.name;
    record.device = context.slot.device;
    record.adapter = AdapterOf(context.slot.device);
    record.box = box.identity;
    record.operatorName = context.operatorName;
    record.lot = context.lot;
    record.version = context.config.version;
    record.series = result.series.empty() ? context.seriesMeasured : result.series;
    record.startAddress = context.config.request.startAddress;
    record.bytes = result.bytes;
    record.phases = last.phases;
    record.attempts = static_cast<int>(box.tries.size());
    if (box.tries.size() > 1) {
        for (const TryEnd& attempt : box.tries) {
            record.tries.push_back({CauseKey(attempt.result.cause), attempt.phases});
        }
    }
    bool cancelled = result.outcome == UpdateOutcome::Cancelled;
    record.verdict = VerdictOf(result.outcome);
    record.cause = CauseKey(result.cause);
    record.caption = cancelled ? kCancelledCaption : result.caption;
    record.message = cancelled ? kCancelledMessage : result.message;
    record.reason = cancelled ? CancelledReason(context.signal) : result.reason;
    record.exit = ExitCodeOf(result.outcome, context.signal);
    record.seconds = 0;
    for (const TryEnd& attempt : box.tries) {
        record.seconds += attempt.result.seconds;
    }
    record.hadBox = last.hadBox || box.tries.size() > 1;
    record.reached = result.reached;
    record.lineGone = result.lineGone;
    return record;
}

}  // namespace quillon
