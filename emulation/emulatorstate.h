#pragma once

#include <cstdint>

// The simulated machine's flags. One instance lives for the whole run (owned by the Machine);
// everything touches it on the GUI thread only.
struct EmulatorState {
    double ScreenScale = 1.5; // on-screen magnification of the card over its physical size
    int32_t PitchBase = 140;  // a field's pitch is given in 1/PitchBase inch
    bool Paused = false;
    bool ClearRequested = false; // Clear while paused: a paused job strikes one more glyph
    bool Busy = false;           // an emboss job runs
    bool AbortRequested = false; // a reset asked the running job to stop before its next strike
    bool PoweredOn = true;       // just switched on, not yet cleared by the operator
    bool InReset = false;        // a 2-second reset or clear sequence runs
    bool Closing = false;        // the main window is closing: host input is ignored
};
