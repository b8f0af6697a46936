#include "seriallink.h"

#include "codepage.h"
#include "machine.h"
#include "vacomm.h"

SerialLink::SerialLink(Machine &machine, QObject *parent)
    : QObject(parent), m_machine(machine), m_comm(std::make_unique<TVaComm>())
{
    // The machine's serial settings: 9600 8N1, no flow control, closed until chosen.
    TVaComm &comm = *m_comm;
    comm.setBaudrate(br9600);
    comm.setParity(paNone);
    comm.setDatabits(db8);
    comm.setStopbits(sb1);
    TVaFlowControl *flow = comm.FlowControl();
    flow->setOutCtsFlow(false);
    flow->setOutDsrFlow(false);
    flow->setXonXoffOut(false);
    flow->setXonXoffIn(false);
    flow->setDsrSensitivity(false);
    flow->setTxContinueOnXoff(false);
    flow->setControlDtr(dtrDisabled);
    flow->setControlRts(rtsDisabled);
    comm.setPortNum(7);
    comm.setDeviceName(QStringLiteral("COM%d"));
    comm.setAutoOpen(false);
    comm.setSyncThreads(true);
    comm.setOnRxChar([this](QObject *sender, qint32 count) { VaCommRxChar(sender, count); });
    comm.setOnError([this](QObject *, qint32) { checkLost(); });

    m_machine.addLink(this);
    m_machine.setSerialReceiveStep([this] { VaCommRxChar(this, 0); });
}

SerialLink::~SerialLink()
{
    m_machine.setSerialReceiveStep({});
    m_machine.removeLink(this);
    m_comm.reset(); // closes an open port
}

void SerialLink::choosePort(const QString &deviceName)
{
    m_comm->Close();
    m_comm->setDeviceName(deviceName);
    m_deviceName = deviceName;
    m_lossAnnounced = false;
    if (deviceName != QLatin1String("NONE")) {
        m_comm->Open();
        // A real line does not collect bytes while the port is closed; a pseudo-terminal does,
        // and answering them now would be a reply to a request long gone.
        m_comm->PurgeRead();
    }
}

bool SerialLink::isOpen() const
{
    return m_comm->Active();
}

bool SerialLink::isLost() const
{
    return m_comm->Active() && m_comm->DeviceLost();
}

void SerialLink::checkLost()
{
    if (m_lossAnnounced || !isLost())
        return;
    m_lossAnnounced = true;
    emit lineLost(QStringLiteral("Serial line %1 lost: the device is gone").arg(m_deviceName));
}

void SerialLink::VaCommRxChar(QObject *, qint32)
{
    // Every waiting byte is taken before anything can process events; the chunk then goes
    // through the machine's receive entry, as the TCP link's chunks do.
    QByteArray bytes;
    char byte = 0;
    while (m_comm->ReadChar(byte))
        bytes += byte;
    checkLost();
    m_machine.receive(CodePage::toText(bytes), HostLinkId::serial());
}

void SerialLink::sendReply(const QString &text)
{
    if (!m_comm->Active())
        return;
    checkLost();
    if (!m_comm->DeviceLost())
        m_comm->WriteText(CodePage::toBytes(text));
}
