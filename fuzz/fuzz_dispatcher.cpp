// The receive dispatcher fed chunk by chunk, as the TCP link feeds it: each chunk goes to the
// machine's receive entry from a queued call, as the link's read step. Operator actions are
// mixed in.
// Messages are decoded by the real decoder onto a real card panel (inside a shown window on the
// offscreen platform), and jobs run to their end at a huge speed, so chunks and actions that
// come later run nested inside a job's waits, as in the program.
//
// Input: a sequence of steps. A step byte below 0xF0 is followed by a chunk of that many bytes
// (fewer at the end of the input); 0xF0 Pause, 0xF1 Clear, 0xF2 Reset, 0xF3-0xF6 toggle a fault
// box, 0xF7 the window's close query; higher values are empty chunks.
//
// Checked besides the sanitizers: every reply is one the machine knows, the machine comes to
// rest (no job, no reset sequence, not busy) once the input is used up.

#include "cardpanel.h"
#include "codepage.h"
#include "fuzzsupport.h"
#include "machine.h"
#include "messagedecoder.h"
#include "protocol.h"
#include "statustable.h"

#include <QCoreApplication>
#include <QSet>
#include <QWidget>

#include <cstdlib>
#include <functional>

namespace
{

constexpr uint8_t kFirstAction = 0xF0;

// Every reply the machine can give: the acknowledgement and each row of the status table.
QSet<QString> knownReplies()
{
    QSet<QString> replies{Protocol::ack('2')};
    for (int flags = 0; flags < 64; ++flags) {
        EmulatorState state;
        state.Paused = flags & 1;
        state.InReset = flags & 2;
        state.Busy = flags & 4;
        state.PoweredOn = flags & 8;
        for (int f = 0; f < 16; ++f) {
            const FaultSwitches faults{bool(f & 1), bool(f & 2), bool(f & 4), bool(f & 8)};
            replies.insert(currentStatus(state, faults).reply);
        }
    }
    return replies;
}

class CheckingLink : public HostLink
{
public:
    void sendReply(const QString &text) override
    {
        static const QSet<QString> known = knownReplies();
        if (!known.contains(text))
            std::abort();
    }
};

// The window the card lives in, as small as the main window's work space.
struct Fixture {
    Fixture()
    {
        window.resize(525, 400);
        card = new CardPanel(&window);
        card->move(10, 11);
        window.show();
    }
    VorlakApplication &app = Fuzz::application(); // before any widget
    QWidget window;
    CardPanel *card = nullptr;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Fixture fixture;
    RecordingSound sound;
    CheckingLink link;
    Machine machine(sound, QString());
    StandInPanel panel(machine);
    machine.clock().setSpeed(1e9);
    machine.addLink(&link);
    fixture.card->SetCardSize(856, 540);
    MessageDecoder decoder(machine, *fixture.card);
    machine.setInterpreter(&decoder);

    // Steps and the dispatches they cause all go through the event queue; `pending` counts
    // those not yet run.
    int pending = 0;
    QObject context;
    auto post = [&](std::function<void()> step) {
        ++pending;
        QMetaObject::invokeMethod(
            &context,
            [&pending, step = std::move(step)] {
                struct Done {
                    int &pending;
                    ~Done() { --pending; }
                } done{pending};
                step(); // a failure goes to the application's error handler, as in the program
            },
            Qt::QueuedConnection);
    };
    auto readStep = [&machine](const QByteArray &chunk) {
        machine.receive(CodePage::toText(chunk));
    };
    auto toggleFault = [&machine](bool FaultSwitches::*fault) {
        FaultSwitches faults = machine.faultSwitches();
        faults.*fault = !(faults.*fault);
        machine.setFaultSwitches(faults);
    };

    size_t at = 0;
    while (at < size) {
        const uint8_t op = data[at++];
        if (op < kFirstAction) {
            const size_t n = std::min<size_t>(op, size - at);
            const QByteArray chunk = Fuzz::bytes(data + at, n);
            at += n;
            post([&readStep, chunk] { readStep(chunk); });
            continue;
        }
        switch (op) {
        case 0xF0:
            post([&machine] { machine.btnPauseClick(); });
            break;
        case 0xF1:
            post([&machine] { machine.btnClearClick(); });
            break;
        case 0xF2:
            post([&machine] { machine.btnResetClick(); });
            break;
        case 0xF3:
            post([&toggleFault] { toggleFault(&FaultSwitches::feederEmpty); });
            break;
        case 0xF4:
            post([&toggleFault] { toggleFault(&FaultSwitches::cardMisfeed); });
            break;
        case 0xF5:
            post([&toggleFault] { toggleFault(&FaultSwitches::yMotorError); });
            break;
        case 0xF6:
            post([&toggleFault] { toggleFault(&FaultSwitches::xMotorError); });
            break;
        case 0xF7:
            post([&machine] { machine.state().Closing = true; });
            break;
        default:
            post([&readStep] { readStep(QByteArray()); });
            break;
        }
    }
    // The operator ends a pause that is still on, so a paused job can finish.
    post([&machine] {
        if (machine.state().Paused)
            machine.btnPauseClick();
    });

    while (pending > 0 || machine.longActionRunning())
        QCoreApplication::processEvents(QEventLoop::AllEvents);

    const EmulatorState &state = machine.state();
    if (state.Busy || state.InReset)
        std::abort();
    // What the machine announced of its activity indicator is what it holds.
    if (panel.activity != machine.activity())
        std::abort();
    return 0;
}
