// TVaDispatcher, a client that shares a port, and the port's list of them.

#include "vacomm.h"

TVaDispatcher::TVaDispatcher(std::shared_ptr<IVaCommUser> AOwner) : FOwner(std::move(AOwner)) {}

TVaDispatcher::~TVaDispatcher()
{
    if (FComm)
        FComm->RemoveClient(this);
}

qint32 TVaDispatcher::WriteBuf(const char *Buf, qint32 Count)
{
    return FComm ? FComm->WriteBuf(Buf, Count) : 0;
}
bool TVaDispatcher::WriteText(const QByteArray &s)
{
    return FComm && FComm->WriteText(s);
}
bool TVaDispatcher::WriteChar(char Ch)
{
    return FComm && FComm->WriteChar(Ch);
}
void TVaDispatcher::PurgeRead()
{
    if (FComm)
        FComm->PurgeRead();
}
void TVaDispatcher::PurgeWrite()
{
    if (FComm)
        FComm->PurgeWrite();
}
void TVaDispatcher::PurgeReadWrite()
{
    if (FComm)
        FComm->PurgeReadWrite();
}
void TVaDispatcher::SetDTRState(bool Value)
{
    if (FComm)
        FComm->SetDTR(Value);
}

// ---------------------------------------------------------------- the port's clients

void TVaCustomComm::InsertClient(TVaDispatcher *Value)
{
    Value->FComm = this;
    FClients.append(Value);
}

void TVaCustomComm::RemoveClient(TVaDispatcher *Value)
{
    const int i = FClients.indexOf(Value);
    if (i < 0)
        return;
    Value->FComm = nullptr;
    FClients.removeAt(i);
}

void TVaCustomComm::RemoveAllClients()
{
    while (!FClients.isEmpty())
        RemoveClient(FClients.last());
}
