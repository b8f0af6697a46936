#pragma once

#include <QChar>
#include <QString>

#include <array>
#include <cstdint>

// One field of the active format. The numbers are kept as the text the host sent and are
// converted only when a job uses them. A field that was never written has a Font of code 0 and
// empty texts.
struct FieldDef {
    static constexpr int kPitchCapacity = 2;
    static constexpr int kYCapacity = 4;
    static constexpr int kXCapacity = 4;

    QChar Font;    // the font selector, a decimal digit
    QString Pitch; // character pitch in 1/140 inch
    QString Y;     // bottom edge of the field's character cells, 0.1 mm
    QString X;     // left edge of the field's first character cell, 0.1 mm
};

// The active format: the field definitions in the order the host sent them. A new format
// overwrites from index 0 and never clears entries above Count, so those keep an earlier,
// longer format's fields.
struct FormatTable {
    static constexpr int32_t kCapacity = 51;

    std::array<FieldDef, kCapacity> Fields{};
    int32_t Count = 0;

    // The entry a job uses for line i: lines beyond the table read as a never-written entry.
    const FieldDef &entry(qsizetype i) const
    {
        static const FieldDef never;
        return i >= 0 && i < kCapacity ? Fields[static_cast<size_t>(i)] : never;
    }
};
