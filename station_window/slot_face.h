#pragma once

#include <QString>

#include "station/station.h"

namespace quillon {

// The colour a tile wears: one for each thing a person at the bench must
// tell apart from a few metres away.
enum class SlotLook { Waiting, Working, Ok, Failed, LineFault, Paused };

// What one tile shows, in words, made from the slot's snapshot.
struct SlotFace {
    SlotLook look = SlotLook::Waiting;
    QString word;    // the large word on the colour: "BURNING", "OK", ...
    QString detail;  // the line under it
    QString status;  // the worker's status text, as it is; empty outside a box
    int position = 0;
    QString bytes;   // "120.3 KiB of 1.0 MiB, 0:12 left"; empty outside a download
    QString last;    // "Last box: failed, Download Failed CheckSum/Timeout"
    QString reason;  // the last failure's reason, its first line
    // Why the box in view failed, in words, drawn large while its red lasts.
    QString cause;
    QString box;        // "SN-0042, try 2 of 3": the box in view, when there is one to name
    QString counts;     // "ok 12  failed 1"
    bool busy = false;  // a box is under way: the lamp blinks
    // Waiting for the boot loader: the status text blinks, as the main
    // window's does while it waits.
    bool blinkStatus = false;
    // The box has ended and the slot waits for a new one to be put in.
    bool held = false;
    // The next scan is this slot's box identity (set by the window).
    bool awaitingScan = false;

    bool operator==(const SlotFace&) const = default;
};

// pauseAsked: the person paused the slot, which may still finish a box.
SlotFace FaceOf(const SlotSnapshot& shot, bool pauseAsked);

// Whether a box on the slot is past the execute command: erasing or
// burning, when stopping may leave its flash half written.
bool IsWritingFlash(const SlotSnapshot& shot);

// "erasing", "burning", "downloading": for naming working slots.
QString PhaseWords(UpdatePhase phase);

// "0:42", "1:02:03".
QString ClockText(double seconds);

}  // namespace quillon
