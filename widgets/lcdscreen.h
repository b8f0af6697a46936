#pragma once

// Stand-in for the dot-matrix display until the real widget lands: same class name and the
// interface the main window uses; draws its text plainly.

#include <QStringList>
#include <QWidget>

enum TPixelSize { pix1x1, pix2x2 };

class TLCDScreen : public QWidget
{
    Q_OBJECT
public:
    explicit TLCDScreen(QWidget *parent = nullptr);

    QStringList Lines() const { return m_lines; }
    void setLines(const QStringList &lines);

    void setNoOfLines(int) {}
    void setNoOfChars(int) {}
    void setPixelSize(TPixelSize) {}
    void setPixelSpacing(int) {}
    void setCharSpacing(int) {}
    void setLineSpacing(int) {}
    void setBorderSpace(int) {}
    void setColor(quint32 color);
    void setPixelOff(quint32) {}
    void setIntensity(int) {}

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QStringList m_lines;
    quint32 m_color = 12632256;
};
