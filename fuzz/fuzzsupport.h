#pragma once

// What the fuzz targets share: one application on the offscreen platform for the whole run,
// the standard error box recorded instead of shown. The stand-ins for the main window and the
// sound are the tests' own (tests/support/standinpanel.h).

#include "standarderrorbox.h"
#include "standinpanel.h"
#include "vorlakapplication.h"

#include <QByteArray>
#include <QString>

#include <cstdlib>

namespace Fuzz
{

// Made on first use and kept: Qt allows one application per process.
inline VorlakApplication &application()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    static VorlakApplication *app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("QT_FONT_DPI", "96");
        auto *created = new VorlakApplication(argc, argv);
        // Failures the program would show in its error box are expected results of bad input.
        StandardErrorBox::setHandler([](const QString &) {});
        return created;
    }();
    return *app;
}

inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
}

} // namespace Fuzz
