#pragma once

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
};
