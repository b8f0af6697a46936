#pragma once

#include "machineinterfaces.h"

#include <QObject>
#include <QString>

#include <memory>

class Machine;
class TVaComm;

// The serial host link: the serial port component `VaComm` carrying the protocol's bytes into
// the machine's receive buffer and the replies back. Closed at start; the operator opens it by
// choosing a port in the setup dialog. It only carries bytes.
class SerialLink : public QObject, public HostLink
{
    Q_OBJECT
public:
    explicit SerialLink(Machine &machine, QObject *parent = nullptr);
    ~SerialLink() override;

    TVaComm &VaComm() { return *m_comm; }

    // The setup dialog's choice: closes the port, takes the device name and opens it unless
    // it is "NONE". An open failure raises the component's error and leaves the port closed.
    void choosePort(const QString &deviceName);

    // The receive step: takes every waiting byte as one chunk into the machine's receive entry
    // (append, log, dispatch once), also with the port closed. The component's receive event calls
    // it, and so does a running job after each strike.
    void VaCommRxChar(QObject *sender, qint32 count);

    // Writes the reply while the port is open. A write queue that stays full raises "Output
    // buffer is full. Please check comm status.", which ends the steps that led to the reply.
    // A lost device takes no reply: it is lost on this line only.
    void sendReply(const QString &text) override;

    QString deviceName() const { return m_deviceName; }
    bool isOpen() const;
    // The device went away under the open port (other end closed, adapter unplugged).
    bool isLost() const;

signals:
    // Announced once per opening: the device is gone; replies now go to the other links only.
    void lineLost(const QString &message);

private:
    void checkLost();

    QString m_deviceName = QStringLiteral("NONE");
    bool m_lossAnnounced = false;
    Machine &m_machine;
    std::unique_ptr<TVaComm> m_comm;
};
