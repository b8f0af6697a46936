#pragma once

#include <QString>

#include <memory>
#include <thread>

// A serial line without hardware or socat: two pseudo-terminals joined back to back, raw,
// 9600 8N1. The host opens one end as it would a serial device (through a link the caller
// names); the simulator opens the other like any serial port. A thread of its own carries the
// bytes between the two, so a busy GUI thread never holds the line up; a side that does not
// read holds the other side's writes back instead of losing them.
//
// Linux only (devpts). Created and destroyed on one thread; nothing else is shared with the
// relay thread.
class VirtualSerialLine
{
public:
    // Creates the line and the link `linkPath` to the host's end. An existing `linkPath` is
    // replaced only when it is a link to a /dev/pts/ device that no longer exists (an earlier
    // run's). Null with *problem set when that fails.
    static std::unique_ptr<VirtualSerialLine> create(const QString &linkPath, QString *problem);
    // Stops the relay and removes the link, if it still points to this line's host end.
    ~VirtualSerialLine();
    VirtualSerialLine(const VirtualSerialLine &) = delete;
    VirtualSerialLine &operator=(const VirtualSerialLine &) = delete;

    QString linkPath() const { return m_linkPath; }
    QString hostEnd() const { return m_host.path; }
    // The device the simulator opens.
    QString simulatorEnd() const { return m_simulator.path; }

private:
    struct End {
        int master = -1;
        int slave = -1; // held open, so the master never sees a hang-up when the user closes
        QString path;
    };

    VirtualSerialLine() = default;
    static bool openEnd(End &end, QString *problem);
    static void closeEnd(End &end);
    void relay();

    End m_host;
    End m_simulator;
    int m_stop = -1; // an eventfd that wakes the relay to end
    QString m_linkPath;
    bool m_linkPlaced = false;
    std::thread m_relay;
};
