#pragma once

#include <QSize>
#include <QString>

class QWidget;
class TfrmSetup;

// The settings file "Vorlak.ini" in the data folder: the main window's placement (section
// "Form": Top, Left, Width, Height, the window's outer edges and size in screen pixels) and the
// setup dialog's values (section "Setup": Font0, Font1, Port, Reverse, StayOnTop).
namespace SettingsFile
{

inline const QString kFileName = QStringLiteral("Vorlak.ini");

// Applies the file to the window's placement and the dialog's fields. A missing or unreadable
// file, a missing key or an invalid value leaves the current value (0 for Top and Left).
// Returns the outer size asked for (the window's frame may not be known yet).
QSize read(const QString &path, QWidget &window, TfrmSetup &setup);

// Writes every key from the current values and makes sure the file is on disk; the file is
// replaced in one step, so a failure leaves the old file whole. Throws VorlakError
// "In <path> kann nicht geschrieben werden" when the file cannot be written, and writes nothing
// when the data folder or the file (or a link in its place) belongs to a user other than the
// program's own or root.
void write(const QString &path, const QWidget &window, const TfrmSetup &setup);

} // namespace SettingsFile
