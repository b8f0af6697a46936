#pragma once

// Base of the component's visual controls. The component needs Qt Core only, so this holds just
// what the port relies on: update grouping and the notification callbacks; a concrete control
// that paints lives in a widgets library and forwards its own notifications here.

#include <QObject>

#include <functional>

class TVaGraphicControl : public QObject
{
    Q_OBJECT
public:
    explicit TVaGraphicControl(QObject *AOwner = nullptr) : QObject(AOwner) {}

    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();
    bool Updating() const { return FUpdateCount > 0; }

    // Called after the matching notifications of a concrete control.
    void MouseEnter();
    void MouseLeave();
    void FontChanged();
    void TextChanged();

    std::function<void(QObject *Sender)> FOnMouseEnter;
    std::function<void(QObject *Sender)> FOnMouseLeave;
    std::function<void(QObject *Sender)> FOnFontChanged;
    std::function<void(QObject *Sender)> FOnTextChanged;

protected:
    // Repaint request of a concrete control; runs when no update is pending.
    virtual void Invalidate() {}

private:
    int FUpdateCount = 0;
};
