#pragma once

#include <optional>

#include "engine/update_events.h"

namespace quillon {

// Where an update's events go: a face, or a station's slot that passes them
// on. Called on the update's thread, in order; the update goes on when the
// call returns.
class UpdateListener {
public:
    virtual ~UpdateListener() = default;
    virtual void On(const UpdateEvent& event) = 0;
};

// What a station decides at two points of an update; without hooks the
// update goes on at both.
class UpdateHooks {
public:
    virtual ~UpdateHooks() = default;
    // With the port open, just before the wait for the boot loader: the box
    // may be started here (a command that cycles its power). None to go on;
    // else why not, and the update ends with nothing sent.
    virtual std::optional<Failure> PrepareBox() = 0;
    // The boot loader has answered: whether to go on with this box. false
    // ends the update as cancelled before anything is sent to it (a station
    // that has all the boxes it was asked for, a slot paused meanwhile).
    virtual bool BoxAnswered() = 0;
};

}  // namespace quillon
