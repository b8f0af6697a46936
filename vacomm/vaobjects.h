#pragma once

// The port's settings sub-objects (flow control, special characters, queue sizes and timeouts)
// and the write queue's storage.

#include "vaclasses.h"
#include "vatypes.h"

#include <memory>

class TVaFlowControl : public TVaPersistent
{
public:
    void Assign(const TVaPersistent &Source) override;

    bool OutCtsFlow() const { return FOutCtsFlow; }
    bool OutDsrFlow() const { return FOutDsrFlow; }
    TVaControlDtr ControlDtr() const { return FControlDtr; }
    TVaControlRts ControlRts() const { return FControlRts; }
    bool XonXoffOut() const { return FXonXoffOut; }
    bool XonXoffIn() const { return FXonXoffIn; }
    bool DsrSensitivity() const { return FDsrSensitivity; }
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }

    void setOutCtsFlow(bool Value) { set(FOutCtsFlow, Value); }
    void setOutDsrFlow(bool Value) { set(FOutDsrFlow, Value); }
    void setControlDtr(TVaControlDtr Value) { set(FControlDtr, Value); }
    void setControlRts(TVaControlRts Value) { set(FControlRts, Value); }
    void setXonXoffOut(bool Value) { set(FXonXoffOut, Value); }
    void setXonXoffIn(bool Value) { set(FXonXoffIn, Value); }
    void setDsrSensitivity(bool Value) { set(FDsrSensitivity, Value); }
    void setTxContinueOnXoff(bool Value) { set(FTxContinueOnXoff, Value); }

private:
    template <typename T> void set(T &Field, T Value)
    {
        if (Field != Value) {
            Field = Value;
            Changed();
        }
    }
    bool FOutCtsFlow = false;
    bool FOutDsrFlow = false;
    TVaControlDtr FControlDtr = dtrDisabled;
    TVaControlRts FControlRts = rtsDisabled;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
    bool FDsrSensitivity = false;
    bool FTxContinueOnXoff = false;
};

class TVaEventChars : public TVaPersistent
{
public:
    void Assign(const TVaPersistent &Source) override;

    char XonChar() const { return FXonChar; }
    char XoffChar() const { return FXoffChar; }
    char ErrorChar() const { return FErrorChar; }
    char EventChar() const { return FEventChar; }
    char EofChar() const { return FEofChar; }

    // Index 1 to 5: Xon, Xoff, Error, Event, Eof. Notifies even when the value is unchanged.
    void SetEventChar(int Index, char Value);
    void setXonChar(char Value) { SetEventChar(1, Value); }
    void setXoffChar(char Value) { SetEventChar(2, Value); }
    void setErrorChar(char Value) { SetEventChar(3, Value); }
    void setEventChar(char Value) { SetEventChar(4, Value); }
    void setEofChar(char Value) { SetEventChar(5, Value); }

private:
    char FXonChar = 0x11;
    char FXoffChar = 0x13;
    char FErrorChar = 0;
    char FEventChar = 0;
    char FEofChar = 0;
};

class TVaBuffers : public TVaPersistent
{
public:
    void Assign(const TVaPersistent &Source) override;

    TVaIntW ReadSize() const { return FReadSize; }
    TVaIntW WriteSize() const { return FWriteSize; }
    TVaIntW ReadTimeout() const { return FReadTimeout; }
    TVaIntW WriteTimeout() const { return FWriteTimeout; }
    TVaIntW XonLimit() const { return FXonLimit; }
    TVaIntW XoffLimit() const { return FXoffLimit; }

    void setReadSize(TVaIntW Value) { set(FReadSize, Value); }
    void setWriteSize(TVaIntW Value) { set(FWriteSize, Value); }
    // The timeouts are used at the moment of each call, so they are stored without notice.
    void setReadTimeout(TVaIntW Value) { FReadTimeout = Value; }
    void setWriteTimeout(TVaIntW Value) { FWriteTimeout = Value; }
    void setXonLimit(TVaIntW Value) { set(FXonLimit, Value); }
    void setXoffLimit(TVaIntW Value) { set(FXoffLimit, Value); }

private:
    void set(TVaIntW &Field, TVaIntW Value)
    {
        if (Field != Value) {
            Field = Value;
            Changed();
        }
    }
    TVaIntW FReadSize = 4096;
    TVaIntW FWriteSize = 2048;
    TVaIntW FReadTimeout = 1000;
    TVaIntW FWriteTimeout = 1000;
    TVaIntW FXonLimit = 1024;
    TVaIntW FXoffLimit = 1024;
};

// Fixed-size storage of the write queue; the queued bytes are always at the front. It does not
// check room: the caller does.
class TVaCommBuffer
{
public:
    explicit TVaCommBuffer(qint32 BufSize);

    char *DataPtr() const { return FData.get(); }
    qint32 Size() const { return FSize; }
    void Clear() { FSize = 0; }
    void Write(const char *Buf, qint32 Count);
    void Peek(char *Buf, qint32 Count) const;
    void Read(char *Buf, qint32 Count);
    void Remove(qint32 Count);

private:
    std::unique_ptr<char[]> FData;
    qint32 FSize = 0;
};
