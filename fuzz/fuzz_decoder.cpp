// The message decoder and the emboss job's build phase: format definitions and emboss data
// decoded onto a real card panel (hidden, so only the glyph layer is drawn), jobs run to their
// end at a huge speed.
//
// Input: one setup byte (bit 0: Reverse, bits 1-7: the Font 0 height, taken into the setup
// dialog's range of 1 to 99 mm; the Font 1 height is its mirror in that range), then the messages,
// each ending with its ETX as the dispatcher hands them over; a last piece without ETX is handed
// over all the same.
//
// Checked besides the sanitizers: a decoder failure is only ever the conversion error, the job
// always clears Busy and the format never lists more fields than the table holds.

#include "cardpanel.h"
#include "codepage.h"
#include "fuzzsupport.h"
#include "machine.h"
#include "messagedecoder.h"
#include "vorlakerror.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::application();
    static CardPanel *card = new CardPanel;
    if (size < 1)
        return 0;
    const uint8_t setupByte = data[0];
    SetupValues setup;
    setup.reverse = [setupByte] { return (setupByte & 1) != 0; };
    setup.font0Height = [setupByte] { return 1 + (setupByte >> 1) % 99; };
    setup.font1Height = [setupByte] { return 99 - (setupByte >> 1) % 99; };

    RecordingSound sound;
    Machine machine(sound, QString());
    machine.clock().setSpeed(1e9);
    card->SetCardSize(856, 540);
    MessageDecoder decoder(machine, *card, setup);

    const QString text = CodePage::toText(Fuzz::bytes(data + 1, size - 1));
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(QChar(0x03), start);
        end = end < 0 ? text.size() : end + 1;
        try {
            decoder.InterpretMessage(text.mid(start, end - start));
        } catch (const VorlakError &error) {
            if (!QString::fromUtf8(error.what())
                     .endsWith(QStringLiteral(" ist kein gültiger Integerwert")))
                std::abort();
        }
        start = end;
        if (machine.state().Busy)
            std::abort();
        const ::FormatTable &table = decoder.FormatTable();
        if (table.Count < 0 || table.Count > ::FormatTable::kCapacity)
            std::abort();
    }
    return 0;
}
