#include "vaobjects.h"

#include <cstring>

void TVaFlowControl::Assign(const TVaPersistent &Source)
{
    const auto *src = dynamic_cast<const TVaFlowControl *>(&Source);
    if (!src) {
        TVaPersistent::Assign(Source);
        return;
    }
    BeginUpdate();
    FOutCtsFlow = src->FOutCtsFlow;
    FOutDsrFlow = src->FOutDsrFlow;
    FControlDtr = src->FControlDtr;
    FControlRts = src->FControlRts;
    FXonXoffOut = src->FXonXoffOut;
    FXonXoffIn = src->FXonXoffIn;
    FDsrSensitivity = src->FDsrSensitivity;
    FTxContinueOnXoff = src->FTxContinueOnXoff;
    EndUpdate();
}

void TVaEventChars::Assign(const TVaPersistent &Source)
{
    const auto *src = dynamic_cast<const TVaEventChars *>(&Source);
    if (!src) {
        TVaPersistent::Assign(Source);
        return;
    }
    BeginUpdate();
    FXonChar = src->FXonChar;
    FXoffChar = src->FXoffChar;
    FErrorChar = src->FErrorChar;
    FEventChar = src->FEventChar;
    FEofChar = src->FEofChar;
    EndUpdate();
}

void TVaEventChars::SetEventChar(int Index, char Value)
{
    switch (Index) {
    case 1:
        FXonChar = Value;
        break;
    case 2:
        FXoffChar = Value;
        break;
    case 3:
        FErrorChar = Value;
        break;
    case 4:
        FEventChar = Value;
        break;
    case 5:
        FEofChar = Value;
        break;
    default:
        return;
    }
    Changed();
}

void TVaBuffers::Assign(const TVaPersistent &Source)
{
    const auto *src = dynamic_cast<const TVaBuffers *>(&Source);
    if (!src) {
        TVaPersistent::Assign(Source);
        return;
    }
    BeginUpdate();
    FReadSize = src->FReadSize;
    FWriteSize = src->FWriteSize;
    FReadTimeout = src->FReadTimeout;
    FWriteTimeout = src->FWriteTimeout;
    FXonLimit = src->FXonLimit;
    FXoffLimit = src->FXoffLimit;
    EndUpdate();
}

TVaCommBuffer::TVaCommBuffer(qint32 BufSize) : FData(new char[BufSize > 0 ? BufSize : 1]) {}

void TVaCommBuffer::Write(const char *Buf, qint32 Count)
{
    if (Count > 0)
        std::memcpy(FData.get() + FSize, Buf, size_t(Count));
    FSize += Count;
}

void TVaCommBuffer::Peek(char *Buf, qint32 Count) const
{
    if (Count > 0)
        std::memcpy(Buf, FData.get(), size_t(Count));
}

void TVaCommBuffer::Read(char *Buf, qint32 Count)
{
    Peek(Buf, Count);
    Remove(Count);
}

void TVaCommBuffer::Remove(qint32 Count)
{
    if (Count <= 0)
        return;
    if (Count > FSize)
        Count = FSize;
    std::memmove(FData.get(), FData.get() + Count, size_t(FSize - Count));
    FSize -= Count;
}
