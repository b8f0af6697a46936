#include "trafficjournal.h"

#include "codepage.h"
#include "frmvorlak.h"
#include "monitorform.h"

#include <QCheckBox>
#include <QPushButton>

namespace
{

QByteArray milliseconds(double ms)
{
    return QByteArray::number(ms, 'f', 3);
}

const char *outcomeName(FinishedJob::Outcome outcome)
{
    switch (outcome) {
    case FinishedJob::Outcome::Done:
        return "done";
    case FinishedJob::Outcome::Reset:
        return "reset";
    case FinishedJob::Outcome::Error:
        break;
    }
    return "error";
}

} // namespace

TrafficJournal::TrafficJournal(TfrmVorlak &window, QObject *parent)
    : QObject(parent), m_window(window), m_machine(window.machine())
{
}

TrafficJournal::~TrafficJournal()
{
    close();
}

bool TrafficJournal::open(const QString &path, qint64 maxBytes, QString *error)
{
    if (!m_file.open(path, maxBytes, error))
        return false;
    connect(&m_machine, &Machine::traffic, this, &TrafficJournal::traffic);
    connect(&m_machine, &Machine::diagnosed, this, &TrafficJournal::diagnosed);
    connect(&m_machine, &Machine::jobFinished, this, &TrafficJournal::jobFinished);
    const std::pair<QPushButton *, const char *> buttons[] = {
        {m_window.btnReset, "reset"}, {m_window.btnPause, "pause"}, {m_window.btnClear, "clear"}};
    for (const auto &[button, name] : buttons) {
        connect(button, &QPushButton::clicked, this,
                [this, name = name] { operatorAction(QStringLiteral("press %1").arg(name)); });
    }
    const std::pair<QCheckBox *, const char *> faults[] = {
        {m_window.cbFeederEmpty, "feeder_empty"},
        {m_window.cbCardMisfeed, "card_misfeed"},
        {m_window.cbYMotorError, "y_motor_error"},
        {m_window.cbXMotorError, "x_motor_error"}};
    for (const auto &[box, name] : faults) {
        connect(box, &QCheckBox::toggled, this, [this, name = name](bool on) {
            operatorAction(QStringLiteral("fault %1 %2").arg(name, on ? "on" : "off"));
        });
    }
    return true;
}

void TrafficJournal::close()
{
    disconnect(&m_machine, nullptr, this, nullptr);
    m_file.close();
}

QByteArray TrafficJournal::quoted(const QString &text)
{
    QByteArray out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += QByteArray::number(byte, 16).rightJustified(2, '0');
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

QByteArray TrafficJournal::begin(const char *dir) const
{
    return "{\"t_ms\":" + milliseconds(m_machine.sinceStartMs()) + ",\"dir\":\"" + dir + '"';
}

void TrafficJournal::traffic(Machine::Direction direction, const QString &text)
{
    const bool received = direction == Machine::Direction::Received;
    // The monitor's reply text has a blank appended; the journal keeps the bytes sent.
    const QString bytes = received || text.isEmpty() ? text : text.chopped(1);
    const HostLinkId link = m_machine.currentLink();
    QByteArray line = begin(received ? "rx" : "tx");
    line += ",\"link\":" +
            (link.kind == HostLinkId::Kind::None ? QByteArray("null") : quoted(link.toString()));
    line += ",\"hex\":\"" + CodePage::toBytes(bytes).toHex(' ') + '"';
    line += ",\"text\":" + quoted(TMonitorForm::RenderTraffic(bytes)) + '}';
    m_file.append(line);
}

void TrafficJournal::diagnosed(const Diagnostic &d)
{
    QByteArray line = begin("event");
    line += ",\"kind\":\"diagnostic\",\"seq\":" + QByteArray::number(d.sequence);
    line += ",\"link\":" + (d.link.kind == HostLinkId::Kind::None ? QByteArray("null")
                                                                  : quoted(d.link.toString()));
    line += ",\"job\":" + (d.job == 0 ? QByteArray("null") : QByteArray::number(d.job));
    line += ",\"code\":" + quoted(d.code) + ",\"message\":" + quoted(d.message) + '}';
    m_file.append(line);
}

void TrafficJournal::operatorAction(const QString &action)
{
    m_file.append(begin("event") + ",\"kind\":\"operator\",\"action\":" + quoted(action) + '}');
}

void TrafficJournal::jobFinished(const FinishedJob &job)
{
    QByteArray line = begin("event");
    line += ",\"kind\":\"job_end\",\"job\":" + QByteArray::number(job.number);
    line += ",\"tag\":" + quoted(job.tag) + ",\"outcome\":\"" + outcomeName(job.outcome) + '"';
    line += ",\"glyphs\":" + QByteArray::number(job.glyphs.size()) + '}';
    m_file.append(line);
}
