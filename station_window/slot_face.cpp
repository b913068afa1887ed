#include "station_window/slot_face.h"

#include <cmath>

#include "station/preflight.h"

namespace quillon {

namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

QString FirstLine(const std::string& text) {
    return Text(text.substr(0, text.find('\n')));
}

QString BytesText(const SlotSnapshot& shot) {
    if (shot.total == 0 || shot.phase > UpdatePhase::Download) {
        return {};
    }
    QString text = Text(SizeText(shot.reached)) + " of " + Text(SizeText(shot.total));
    if (shot.secondsLeft) {
        text += ", " + ClockText(*shot.secondsLeft) + " left";
    }
    return text;
}

// A slot that has ended a box keeps its verdict's colour while it waits for
// the next: the person who swaps the boxes reads the verdict from afar.
void WaitingFace(const SlotSnapshot& shot, SlotFace& face) {
    bool answered = shot.last && shot.last->hadBox && shot.last->verdict != "cancelled";
    if (!answered) {
        face.look = SlotLook::Waiting;
        face.word = "WAITING";
        face.detail = "for a box: press its reset button";
        return;
    }
    bool ok = shot.last->verdict == "ok";
    face.look = ok ? SlotLook::Ok : SlotLook::Failed;
    face.word = ok ? "OK" : "FAILED";
    face.detail = "waiting for the next box";
}

void StateFace(const SlotSnapshot& shot, bool pauseAsked, SlotFace& face) {
    using State = SlotSnapshot::State;
    switch (shot.state) {
        case State::Working:
            face.look = SlotLook::Working;
            face.word = PhaseWords(shot.phase).toUpper();
            face.detail = pauseAsked ? "pauses once this box has ended" : "do not unplug";
            face.busy = true;
            return;
        case State::LineFault:
            face.look = SlotLook::LineFault;
            face.word = shot.lineGone ? "ADAPTER GONE" : "NO PORT";
            face.detail = shot.lineGone ? "waiting for it to come back" : Text(shot.note);
            return;
        case State::Held: {
            // The box has ended: the person takes it out and puts in the next.
            bool ok = shot.last && shot.last->verdict == "ok";
            face.look = ok ? SlotLook::Ok : SlotLook::Failed;
            face.word = ok ? "DONE" : "REPLACE BOX";
            face.detail = Text(shot.note);
            face.held = true;
            return;
        }
        case State::Paused:
        case State::Stopped:
            face.look = SlotLook::Paused;
            face.word = shot.state == State::Paused ? "PAUSED" : "STOPPED";
            face.detail = shot.state == State::Paused ? "takes no box until resumed" : "";
            return;
        case State::Ok:
        case State::Failed:
        case State::Waiting:
            if (pauseAsked) {
                face.look = SlotLook::Paused;
                face.word = "PAUSED";
                face.detail = "takes no box until resumed";
                return;
            }
            WaitingFace(shot, face);
            face.blinkStatus = shot.phase == UpdatePhase::Waiting;
            return;
    }
}

}  // namespace

QString ClockText(double seconds) {
    long whole = std::lround(std::max(0.0, seconds));
    long hours = whole / 3600;
    QString minutesAndSeconds = QString("%1:%2")
                                    .arg(whole / 60 % 60, hours > 0 ? 2 : 1, 10, QChar('0'))
                                    .arg(whole % 60, 2, 10, QChar('0'));
    return hours > 0 ? QString::number(hours) + ":" + minutesAndSeconds : minutesAndSeconds;
}

QString PhaseWords(UpdatePhase phase) {
    switch (phase) {
        case UpdatePhase::Execute:
        case UpdatePhase::Erase:
            return "erasing";
        case UpdatePhase::Burn:
        case UpdatePhase::Ended:
            return "burning";
        default:
            return "downloading";
    }
}

bool IsWritingFlash(const SlotSnapshot& shot) {
    return shot.state == SlotSnapshot::State::Working && shot.phase >= UpdatePhase::Execute;
}

SlotFace FaceOf(const SlotSnapshot& shot, bool pauseAsked) {
    SlotFace face;
    StateFace(shot, pauseAsked, face);
    face.status = Text(shot.status);
    face.position = shot.position;
    face.bytes = shot.state == SlotSnapshot::State::Working ? BytesText(shot) : QString();
    face.counts = QString("ok %1  failed %2").arg(shot.ok).arg(shot.failed);
    if (shot.last) {
        const BoxRecord& last = *shot.last;
        // A failure's caption names what went wrong ("Download Failed
        // CheckSum/Timeout"); the reason, when the system gave one, says why.
        face.last = "Last box: " + Text(last.verdict);
        if (last.verdict != "ok") {
            face.last += ", " + Text(last.caption);
            face.reason = last.reason.empty() ? Text(last.message) : FirstLine(last.reason);
        }
    }
    return face;
}

}  // namespace quillon
