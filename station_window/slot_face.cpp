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

// "SN-0042, try 2 of 3": a box's identity and tries, when either says more
// than that a box is there.
QString BoxText(const std::string& identity, int attempt, int attempts, bool ended) {
    QString tries;
    if (ended && attempt > 1) {
        tries = QString("%1 tries").arg(attempt);
    } else if (!ended && attempts > 1 && attempt > 0) {
        tries = QString("try %1 of %2").arg(attempt).arg(attempts);
    }
    if (identity.empty()) {
        return tries;
    }
    return tries.isEmpty() ? Text(identity) : Text(identity) + ", " + tries;
}

bool Answered(const SlotSnapshot& shot) {
    return shot.last && shot.last->hadBox && shot.last->verdict != "cancelled";
}

// A slot that has ended a box keeps its verdict's colour while it waits for
// the next: the person who swaps the boxes reads the verdict from afar.
void WaitingFace(const SlotSnapshot& shot, SlotFace& face) {
    if (!Answered(shot)) {
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

void PausedFace(SlotSnapshot::State state, SlotFace& face) {
    bool stopped = state == SlotSnapshot::State::Stopped;
    face.look = SlotLook::Paused;
    face.word = stopped ? "STOPPED" : "PAUSED";
    face.detail = stopped ? "" : "takes no box until resumed";
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
            face.detail = ok ? "put in the next box" : "replace the box";
            face.held = true;
            return;
        }
        case State::Paused:
        case State::Stopped:
            PausedFace(shot.state, face);
            return;
        case State::Ok:
        case State::Failed:
        case State::Waiting:
            if (pauseAsked) {
                PausedFace(State::Paused, face);
                return;
            }
            WaitingFace(shot, face);
            face.blinkStatus = shot.phase == UpdatePhase::Waiting;
            return;
    }
}

// The last box's verdict, and why it failed in words: the reason the system
// gave, not the caption every failure of a step shares.
void LastBoxFace(const SlotSnapshot& shot, SlotFace& face) {
    if (!shot.last) {
        return;
    }
    const BoxRecord& last = *shot.last;
    face.last = "Last box: " + Text(last.verdict);
    if (last.verdict != "ok") {
        face.last += ", " + Text(last.caption);
        face.reason = last.reason.empty() ? Text(last.message) : FirstLine(last.reason);
    }
    if (face.look == SlotLook::Failed) {
        face.cause = face.reason;
    }
    // The box whose verdict the tile wears, or the one to take out.
    bool verdictShown = face.look == SlotLook::Ok || face.look == SlotLook::Failed;
    if (shot.state != SlotSnapshot::State::Working && verdictShown && Answered(shot)) {
        face.box = BoxText(last.box, last.attempts, last.attempts, true);
    }
}

void NextBoxFace(const SlotSnapshot& shot, SlotFace& face) {
    // A scanned identity waits for the slot's next box.
    bool next = shot.state != SlotSnapshot::State::Working && face.look != SlotLook::Failed &&
                !shot.box.empty() && !(shot.last && shot.last->box == shot.box);
    if (next) {
        face.box = "next box: " + Text(shot.box);
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
    face.counts = QString("ok %1  failed %2").arg(shot.ok).arg(shot.failed);
    LastBoxFace(shot, face);
    NextBoxFace(shot, face);
    // A paused, held or line-less slot shows what is true now, not the
    // text and bar of a box that has gone.
    if (face.look == SlotLook::Paused || face.look == SlotLook::LineFault || face.held) {
        return face;
    }
    face.status = Text(shot.status);
    face.position = shot.position;
    if (shot.state == SlotSnapshot::State::Working) {
        face.bytes = BytesText(shot);
        face.box = BoxText(shot.box, shot.attempt, shot.attempts, false);
    }
    return face;
}

}  // namespace quillon
