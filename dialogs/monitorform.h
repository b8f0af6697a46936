#pragma once

#include <QWidget>

class QGroupBox;
class QPushButton;
class TrafficLogView;

// "Monitor": the raw traffic with the host, received bytes in "Rx", replies in "Tx", control
// characters and characters outside printable ASCII as "#" and their decimal code. Created
// hidden at start and kept for the whole run; traffic is recorded only while it is shown
// (minimised counts as shown). "Exit" hides it and keeps both texts; "CLR" empties them.
class TMonitorForm : public QWidget
{
    Q_OBJECT
public:
    explicit TMonitorForm(QWidget *parent = nullptr);

    // Direction 0: received, 1: sent; other directions record nothing. While the window is
    // shown, the rendering is appended to its field and pending events are then processed
    // (so the monitor keeps up with the traffic); a call made while those events are being
    // processed only appends, so logging never nests more than one level deep.
    void LogTraffic(quint8 direction, const QString &text);

    // "#13#10" for CR LF, "#196" for Ä: every character below 32 or above 127 as its code.
    static QString RenderTraffic(const QString &text);

    // The recorded traffic as the fields show it, and "CLR": both fields emptied.
    QString receivedText() const;
    QString sentText() const;
    void clearTraffic();

    QGroupBox *gbRx = nullptr;
    TrafficLogView *RxLog = nullptr;
    QGroupBox *gbTx = nullptr;
    TrafficLogView *TxLog = nullptr;
    QWidget *paBottom = nullptr;
    QPushButton *btnClose = nullptr;
    QPushButton *btnCLR = nullptr;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void btnCloseClick();
    void btnCLRClick();
    void FormResize();

    bool m_processingEvents = false;
};
