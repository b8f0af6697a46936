#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM (a service manager's stop) and SIGINT (Ctrl-C) as the operator's close: the handler
// only writes a byte into a pipe, the event loop reads it and announces closeRequested(). Each
// handler is installed for one delivery only, so a second signal ends the program at once.
// One instance per process: the handler needs the pipe's write end.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    // False when the pipe or a handler could not be set up (the signals then end the program
    // as before); errorString() says why.
    bool isActive() const { return m_active; }
    QString errorString() const { return m_error; }

signals:
    void closeRequested(int signalNumber);

private:
    void readPipe();

    int m_pipe[2] = {-1, -1};
    QSocketNotifier *m_notifier = nullptr;
    bool m_active = false;
    QString m_error;
};
