#include "menubarstyle.h"

#include <QPainter>
#include <QStyleOptionMenuItem>

MenuBarStyle::MenuBarStyle(int barHeight, int itemHeight)
    : m_verticalMargin((barHeight - itemHeight) / 2)
{
}

QPalette MenuBarStyle::barPalette(QPalette palette)
{
    const QColor disabled(109, 109, 109);
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Window, Qt::white);
        palette.setColor(group, QPalette::Button, Qt::white);
        palette.setColor(group, QPalette::Highlight, Qt::white);
        palette.setColor(group, QPalette::HighlightedText, Qt::black);
        palette.setColor(group, QPalette::WindowText, Qt::black);
        palette.setColor(group, QPalette::ButtonText, Qt::black);
    }
    palette.setColor(QPalette::Disabled, QPalette::Window, Qt::white);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, Qt::white);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, disabled);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, disabled);
    palette.setColor(QPalette::Disabled, QPalette::Text, disabled);
    palette.setColor(QPalette::Disabled, QPalette::HighlightedText, disabled);
    return palette;
}

int MenuBarStyle::pixelMetric(PixelMetric metric, const QStyleOption *option,
                              const QWidget *widget) const
{
    switch (metric) {
    case PM_MenuBarVMargin:
        return m_verticalMargin;
    case PM_MenuBarPanelWidth:
        return 0;
    default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

void MenuBarStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option,
                                 QPainter *painter, const QWidget *widget) const
{
    if (element == PE_PanelMenuBar)
        return; // the empty area is filled by CE_MenuBarEmptyArea, without a frame
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void MenuBarStyle::drawControl(ControlElement element, const QStyleOption *option,
                               QPainter *painter, const QWidget *widget) const
{
    if (element == CE_MenuBarEmptyArea) {
        painter->fillRect(option->rect, option->palette.window());
        return;
    }
    const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option);
    if (element != CE_MenuBarItem || !item) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    const bool enabled = item->state.testFlag(State_Enabled);
    const bool highlighted = enabled && item->state.testFlag(State_Selected);
    painter->fillRect(item->rect, highlighted ? item->palette.highlight() : item->palette.window());
    int flags = Qt::AlignCenter | Qt::TextShowMnemonic | Qt::TextDontClip | Qt::TextSingleLine;
    if (!proxy()->styleHint(SH_UnderlineShortcut, item, widget))
        flags |= Qt::TextHideMnemonic;
    const QPalette::ColorRole role = highlighted ? QPalette::HighlightedText : QPalette::ButtonText;
    painter->save();
    painter->setPen(item->palette.color(enabled ? QPalette::Active : QPalette::Disabled, role));
    painter->drawText(item->rect, flags, item->text);
    painter->restore();
}
