#pragma once

#include "vacontrols.h"

class TVaCustomComm;

// A control that shows a port's state. The port calls UpdateDisplay once per event batch, on
// the thread that runs its handlers.
class TVaDisplay : public TVaGraphicControl
{
    Q_OBJECT
public:
    explicit TVaDisplay(QObject *AOwner = nullptr) : TVaGraphicControl(AOwner) {}
    virtual void UpdateDisplay(TVaCustomComm *Comm) = 0;
};
