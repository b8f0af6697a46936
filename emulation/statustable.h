#pragma once

#include "emulatorstate.h"

#include <QString>

// The operator's fault check boxes, in the order of their precedence.
enum class Fault { FeederEmpty, CardMisfeed, YMotorError, XMotorError };

struct FaultSwitches {
    bool feederEmpty = false;
    bool cardMisfeed = false;
    bool yMotorError = false;
    bool xMotorError = false;
};

// One row of the status table: what a poll is answered with and what the display shows.
struct StatusRow {
    QString reply;
    QString displayText;
};

// The machine's reported state is not stored: it is the first row whose condition holds.
StatusRow currentStatus(const EmulatorState &state, const FaultSwitches &faults);
