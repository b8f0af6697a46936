#pragma once

#include <QIcon>

// The program's own icon at every size built into it (":/icons/hicolor/<N>x<N>/apps/vorlak.png"),
// for the main window and every window that has none of its own.
QIcon vorlakWindowIcon();
