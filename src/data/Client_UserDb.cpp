#include "data/Client_UserDb.h"
#include "core/Client_BindingEvents.h"
#include "platform/DebugOutput.h"

namespace pelvox {

TUSERDBManager::~TUSERDBManager() { CloseDatabase(); }

bool TUSERDBManager::Written(bool ok, const char* method)
{
    if (ok) return true;
    DebugOutput(QStringLiteral("TUSERDBManager.%1 error:%2").arg(QLatin1String(method), FStore.LastError()));
    RaiseEvent(EventSaveFailed, uintptr_t(FStore.LastErrorCode()), 0);
    return false;
}

bool TUSERDBManager::ReadDone(bool ok, const char* method)
{
    if (!ok) DebugOutput(QStringLiteral("TUSERDBManager.%1 error:%2").arg(QLatin1String(method), FStore.LastError()));
    return ok;
}

bool TUSERDBManager::OpenDatabase()
{
    const bool ok = FStore.Open(FFileName);
    if (!FStore.RenamedAside().isEmpty())
        DebugOutput(QStringLiteral("TUSERDBManager.OpenDatabase: %1 was not a message store; moved to %2").arg(FFileName, FStore.RenamedAside()));
    return Written(ok, "OpenDatabase");
}

void TUSERDBManager::CloseDatabase() { FStore.Close(); }

bool TUSERDBManager::AddMessage(const QByteArray& msgid, TMsgType msgtype, TMsgLevel msglevel, const QString& content, const QString& font,
                                int32_t sender_userid, const QString& sender_nickname, const QString& sender_actualname,
                                int32_t receiver_userid, const QString& receiver_nickname, const QString& receiver_actualname,
                                TDateTime sendtime)
{
    const TUSERDBOBJ_Message m{msgid, msgtype, msglevel, content, font, sender_userid, sender_nickname, sender_actualname,
                               receiver_userid, receiver_nickname, receiver_actualname, sendtime};
    return Written(FStore.Add(m), "AddMessage");
}

bool TUSERDBManager::AddGroupMessage(const QByteArray& msgid, int32_t groupid, TMsgLevel msglevel, const QString& content,
                                     const QString& font, int32_t sender_userid, const QString& sender_nickname,
                                     const QString& sender_actualname, TDateTime sendtime)
{
    const TUSERDBOBJ_GroupMessage m{msgid, groupid, msglevel, content, font, sender_userid, sender_nickname, sender_actualname, sendtime};
    return Written(FStore.Add(m), "AddGroupMessage");
}

bool TUSERDBManager::AddRoomMessage(const QByteArray& msgid, int32_t roomid, TMsgLevel msglevel, const QString& content,
                                    const QString& font, int32_t sender_userid, const QString& sender_nickname,
                                    const QString& sender_actualname, TDateTime sendtime)
{
    const TUSERDBOBJ_RoomMessage m{msgid, roomid, msglevel, content, font, sender_userid, sender_nickname, sender_actualname, sendtime};
    return Written(FStore.Add(m), "AddRoomMessage");
}

bool TUSERDBManager::AddSMSChatMsg(const QByteArray& msgid, int32_t itemid, int16_t flag, const QString& sender, const QString& mobile,
                                   const QString& content, TDateTime sendtime)
{
    const TUSERDBOBJ_SMSChatMsg m{msgid, itemid, flag, sender, mobile, content, sendtime};
    return Written(FStore.Add(m), "AddSMSChatMsg");
}

bool TUSERDBManager::AddSysMsg(int64_t sysmsgid, const QString& title, const QString& category, const QString& content,
                               const QString& link, const QString& attachfile, int16_t needreaded, int16_t needfeedback,
                               TDateTime sendtime)
{
    const TUSERDBOBJ_SysMsg m{sysmsgid, title, category, content, link, attachfile, needreaded, needfeedback, 0, 0, QString(), sendtime};
    return Written(FStore.Add(m), "AddSysMsg");
}

bool TUSERDBManager::GetMessages(int32_t userid1, int32_t userid2, int pagesize, int pageindex, TUSERDBOBJ_Messages& AMessages,
                                 int& maxpageindex)
{
    return ReadDone(FStore.GetMessages(userid1, userid2, pagesize, pageindex, AMessages, maxpageindex), "GetMessages");
}

bool TUSERDBManager::GetGroupMessages(int32_t groupid, int pagesize, int pageindex, TUSERDBOBJ_GroupMessages& AGroupMessages,
                                      int& maxpageindex)
{
    return ReadDone(FStore.GetGroupMessages(groupid, pagesize, pageindex, AGroupMessages, maxpageindex), "GetGroupMessages");
}

bool TUSERDBManager::GetRoomMessages(int32_t roomid, int pagesize, int pageindex, TUSERDBOBJ_RoomMessages& ARoomMessages,
                                     int& maxpageindex)
{
    return ReadDone(FStore.GetRoomMessages(roomid, pagesize, pageindex, ARoomMessages, maxpageindex), "GetRoomMessages");
}

bool TUSERDBManager::GetSMSChatMsgs(int32_t itemid, int pagesize, int pageindex, TUSERDBOBJ_SMSChatMsgs& ASMSChatMsgs, int& maxpageindex)
{
    return ReadDone(FStore.GetSMSChatMsgs(itemid, pagesize, pageindex, ASMSChatMsgs, maxpageindex), "GetSMSChatMsgs");
}

int TUSERDBManager::GetSysMsgs(int pagesize, int pageindex, TUSERDBOBJ_SysMsgs& ASysMsgs, int& maxpageindex)
{
    const size_t before = ASysMsgs.size();
    ReadDone(FStore.GetSysMsgs(pagesize, pageindex, ASysMsgs, maxpageindex), "GetSysMsgs");
    return int(ASysMsgs.size() - before);
}

bool TUSERDBManager::ClearMessages(int32_t userid1, int32_t userid2) { return Written(FStore.ClearMessages(userid1, userid2), "ClearMessages"); }
bool TUSERDBManager::ClearGroupMessages(int32_t groupid) { return Written(FStore.ClearGroupMessages(groupid), "ClearGroupMessages"); }
bool TUSERDBManager::ClearRoomMessages(int32_t roomid) { return Written(FStore.ClearRoomMessages(roomid), "ClearRoomMessages"); }
bool TUSERDBManager::ClearSMSChatMsgs(int32_t itemid) { return Written(FStore.ClearSMSChatMsgs(itemid), "ClearSMSChatMsgs"); }
bool TUSERDBManager::ClearSysMsgs() { return Written(FStore.ClearSysMsgs(), "ClearSysMsgs"); }
bool TUSERDBManager::RemoveMessage(const QByteArray& msgid) { return Written(FStore.RemoveMessage(msgid), "RemoveMessage"); }
bool TUSERDBManager::RemoveGroupMessage(const QByteArray& msgid) { return Written(FStore.RemoveGroupMessage(msgid), "RemoveGroupMessage"); }
bool TUSERDBManager::RemoveRoomMessage(const QByteArray& msgid) { return Written(FStore.RemoveRoomMessage(msgid), "RemoveRoomMessage"); }
bool TUSERDBManager::RemoveSMSChatMsg(const QByteArray& msgid) { return Written(FStore.RemoveSMSChatMsg(msgid), "RemoveSMSChatMsg"); }
bool TUSERDBManager::RemoveSysMsg(int64_t sysmsgid) { return Written(FStore.RemoveSysMsg(sysmsgid), "RemoveSysMsg"); }
bool TUSERDBManager::SysMsgReaded(int64_t sysmsgid) { return Written(FStore.SysMsgReaded(sysmsgid), "SysMsgReaded"); }
bool TUSERDBManager::SysMsgFeedback(int64_t sysmsgid) { return Written(FStore.SysMsgFeedback(sysmsgid), "SysMsgFeedback"); }

int TUSERDBManager::GetUnReadSysMsgCount()
{
    const int n = FStore.GetUnReadSysMsgCount();
    return ReadDone(n >= 0, "GetUnReadSysMsgCount") ? n : 0;
}

int TUSERDBManager::GetUnFeedbackSysMsgCount()
{
    const int n = FStore.GetUnFeedbackSysMsgCount();
    return ReadDone(n >= 0, "GetUnFeedbackSysMsgCount") ? n : 0;
}

bool TUSERDBManager::BeginBatch() { return Written(FStore.BeginBatch(), "BeginBatch"); }
bool TUSERDBManager::CommitBatch() { return Written(FStore.CommitBatch(), "CommitBatch"); }

} // namespace pelvox
