#pragma once

#include "errorreporter.h"

#include <QApplication>

// Catches a failure at the one place where every handler is entered: the event dispatch. The
// failing handler's remaining steps do not run; the standard error box reports the failure and
// the program goes on with the next event.
class VorlakApplication : public QApplication
{
    Q_OBJECT
public:
    VorlakApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;

    // Headless (the offscreen platform, whether chosen by --headless or for want of a
    // display) it only lists; with a window it shows the box too.
    ErrorReporter &errorReporter() { return m_errors; }

private:
    ErrorReporter m_errors;
};
