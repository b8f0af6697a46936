#pragma once

// What the fuzz targets share: one application on the offscreen platform for the whole run,
// the standard error box recorded instead of shown, and stand-ins for the main window's panel
// and the sound.

#include "machineinterfaces.h"
#include "standarderrorbox.h"
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

// The window's side of the machine: status panels, display, fault boxes; nothing is drawn.
class StandInPanel : public MachinePanel
{
public:
    void showDisplayText(const QString &text) override { display = text; }
    QString statusPanelText(int panel) const override { return panels[checked(panel)]; }
    void setStatusPanelText(int panel, const QString &text) override
    {
        panels[checked(panel)] = text;
    }
    FaultSwitches faultSwitches() const override { return faults; }
    void invalidateCardView() override {}
    void logTraffic(int direction, const QString &) override
    {
        if (direction != 0 && direction != 1)
            std::abort();
    }

    QString display;
    QString panels[5];
    FaultSwitches faults;

private:
    static int checked(int panel)
    {
        if (panel < 0 || panel > 4)
            std::abort();
        return panel;
    }
};

class NullSound : public SoundPlayer
{
public:
    void PlaySoundFile(const QString &) override {}
};

inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
}

} // namespace Fuzz
