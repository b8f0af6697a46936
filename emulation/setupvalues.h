#pragma once

#include <functional>

// The operator's setup values that a job reads at the moment of use. The main window fills the
// functions from its setup dialog; the defaults are the dialog's own.
struct SetupValues {
    std::function<int()> font0Height = [] { return 5; }; // whole millimetres, 1 to 99
    std::function<int()> font1Height = [] { return 5; };
    std::function<bool()> reverse = [] { return false; }; // glyphs turned by 180 degrees
};
