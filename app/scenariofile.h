#pragma once

#include <QString>

class ControlCommands;

// A rig's scenario: a JSON array of trigger requests ({"cmd":"on",...}) armed at start, as if
// sent to the control port one after the other.
namespace ScenarioFile
{

// Arms every entry of the file at `path`; false with *problem naming the file and, where the
// fault lies in one entry, that entry (counted from 1). Nothing of a bad file stays armed.
bool arm(const QString &path, ControlCommands &commands, QString *problem);

} // namespace ScenarioFile
