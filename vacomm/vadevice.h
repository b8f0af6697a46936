#pragma once

// The thin device layer: the POSIX calls the port makes on its descriptor, behind one abstract
// class so that the port's logic can run against a fake device in tests. Every call returns 0 or
// an error number (Read and Write: a byte count or a negative error number); none of them blocks.

#include <QByteArray>

#include <cstddef>
#include <cstdint>

// Same layout as the kernel's struct termios2 (with its own 19 control characters), so that a
// user baud rate can be set with BOTHER and c_ispeed/c_ospeed. Flag values are the usual termios
// ones.
struct TVaTermios {
    uint32_t c_iflag = 0;
    uint32_t c_oflag = 0;
    uint32_t c_cflag = 0;
    uint32_t c_lflag = 0;
    uint8_t c_line = 0;
    uint8_t c_cc[19] = {};
    uint32_t c_ispeed = 0;
    uint32_t c_ospeed = 0;
};

// The driver's line counters (TIOCGICOUNT).
struct TVaLineCounters {
    int cts = 0, dsr = 0, rng = 0, dcd = 0;
    int rx = 0, tx = 0;
    int frame = 0, overrun = 0, parity = 0, brk = 0;
    int buf_overrun = 0;
};
// What the counters went up by from b to a.
TVaLineCounters operator-(const TVaLineCounters &a, const TVaLineCounters &b);

class TVaDevice
{
public:
    virtual ~TVaDevice() = default;

    // Opens Path read/write, non-blocking, without becoming the controlling terminal. Exclusive:
    // also refuses (EBUSY) when another holder has it. ENOENT means there is no such device.
    virtual int Open(const QByteArray &Path, bool Exclusive) = 0;
    virtual void Close() = 0;
    // The descriptor to wait on: readable when bytes arrive, hung up when the device is gone.
    virtual int Descriptor() const = 0;

    virtual int GetAttr(TVaTermios &T) = 0;
    virtual int SetAttr(const TVaTermios &T) = 0;
    virtual long Read(char *Buf, size_t Count) = 0;
    virtual long Write(const char *Buf, size_t Count) = 0;
    virtual int InQueue(int &Count) = 0;  // FIONREAD
    virtual int OutQueue(int &Count) = 0; // TIOCOUTQ
    // TIOCM_* bits (TIOCMGET, TIOCMBIS / TIOCMBIC).
    virtual int GetModemLines(int &Bits) = 0;
    virtual int SetModemLines(int Bits, bool On) = 0;
    virtual int SetBreak(bool On) = 0; // TIOCSBRK / TIOCCBRK
    virtual int Flow(int Action) = 0;  // tcflow: TCOOFF, TCOON, TCIOFF, TCION
    virtual int Flush(int Queue) = 0;  // tcflush: TCIFLUSH, TCOFLUSH, TCIOFLUSH
    virtual int GetCounters(TVaLineCounters &C) = 0;
};

// The real thing: a tty device node.
class TVaPosixDevice : public TVaDevice
{
public:
    ~TVaPosixDevice() override;

    int Open(const QByteArray &Path, bool Exclusive) override;
    void Close() override;
    int Descriptor() const override { return FFd; }

    int GetAttr(TVaTermios &T) override;
    int SetAttr(const TVaTermios &T) override;
    long Read(char *Buf, size_t Count) override;
    long Write(const char *Buf, size_t Count) override;
    int InQueue(int &Count) override;
    int OutQueue(int &Count) override;
    int GetModemLines(int &Bits) override;
    int SetModemLines(int Bits, bool On) override;
    int SetBreak(bool On) override;
    int Flow(int Action) override;
    int Flush(int Queue) override;
    int GetCounters(TVaLineCounters &C) override;

private:
    int FFd = -1;
    bool FExclusive = false;
};

// An error number that says the line ioctl does not exist on this kind of tty (a pty, a socat
// link): not a failure of the port.
inline bool VaNotSupported(int E)
{
    return E == 25 /*ENOTTY*/ || E == 22 /*EINVAL*/;
}
// An error number that says the device is gone (hung up, unplugged).
bool VaDeviceGone(int E);
