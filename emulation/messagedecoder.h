#pragma once

#include "embossjob.h"
#include "formattable.h"
#include "machineinterfaces.h"
#include "setupvalues.h"

#include <QString>

#include <cstdint>
#include <memory>

class CardSurface;
class Machine;

// Decodes the host's complete messages: a format definition replaces the active format and
// sizes the card; emboss data starts a job on the active format. Anything else leaves the note
// "Keine Formatdaten" on the card.
//
// Format definition: SOH "31" STX "F]00 U0 ", a 12-character card block (height at positions
// 3-6, width at 9-12, in 0.1 mm), then 15-character field records, ETX. A record is valid when
// it trims to exactly 14 characters; the first one that does not ends the list. Only the first
// 51 valid records are stored (the table has 51 entries); further ones are dropped.
//
// Emboss data: SOH "31" STX "T]00", the field lines, "@", a 5-character tag, ETX.
//
// One decoder holds the process-wide active format; it lives as long as the main window.
class MessageDecoder : public MessageInterpreter
{
public:
    static constexpr int kNoteX = 20;
    static constexpr int kNoteY = 20;

    MessageDecoder(Machine &machine, CardSurface &surface, SetupValues setup = {});

    // Decodes one complete message (the whole receive buffer, ending with ETX). For emboss data
    // it returns after the whole job; a job's conversion error goes on to the caller.
    void InterpretMessage(const QString &message) override;
    // Runs a job on the active format for the field text (the emboss data before "@").
    void RunEmbossJob(const QString &fieldText);

    const ::FormatTable &FormatTable() const { return m_table; }
    int32_t CardHeight() const { return m_cardHeight; }
    int32_t CardWidth() const { return m_cardWidth; }

    // The glyphs put on the card by the job started last, in strike order (still growing while
    // that job runs).
    const StrikeRecord &lastJobStrikes() const { return *m_lastStrikes; }

    // Jobs started so far; the next one gets the number after this.
    int jobsStarted() const { return m_jobsStarted; }

private:
    void decodeFormat(const QString &body);
    void diagnoseCardBlock(const QString &cardBlock);
    void diagnoseRecordsLeft(const QString &body, qsizetype at);

    Machine &m_machine;
    CardSurface &m_surface;
    SetupValues m_setup;
    ::FormatTable m_table;
    int32_t m_cardHeight = 0;
    int32_t m_cardWidth = 0;
    std::shared_ptr<StrikeRecord> m_lastStrikes = std::make_shared<StrikeRecord>();
    int m_jobsStarted = 0;
};
