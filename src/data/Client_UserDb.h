#pragma once
#include "core/Client_Session.h"
#include "data/Lib_UserDb.h"
#include <QByteArray>
#include <QString>

namespace pelvox {

// The signed-in user's message history. The session object opens the store
// after login (file FileName in the user root) and closes it at logout.
// Every write returns whether it was kept; a failure is written to the debug
// output and raised as EventSaveFailed (first parameter: the SQLite result
// code) so the windows can tell the user the history could not be saved.
// Calls on a closed store return false (counts 0) and do nothing else.
class TUSERDBManager : public IDataManager {
public:
    static inline const QString FileName = QStringLiteral("USERDB2.FDB");
    static inline const QString EventSaveFailed = QStringLiteral("Client:OnSaveHistoryFailed");

    TUSERDBManager() = default;
    ~TUSERDBManager() override;
    TUSERDBManager(const TUSERDBManager&) = delete;
    TUSERDBManager& operator=(const TUSERDBManager&) = delete;

    void SetDBFileName(const QString& filename) { FFileName = filename; }
    const QString& DBFileName() const { return FFileName; }
    bool OpenDatabase();
    void CloseDatabase();
    bool Opened() const { return FStore.IsOpen(); }

    bool AddMessage(const QByteArray& msgid, TMsgType msgtype, TMsgLevel msglevel, const QString& content, const QString& font,
                    int32_t sender_userid, const QString& sender_nickname, const QString& sender_actualname, int32_t receiver_userid,
                    const QString& receiver_nickname, const QString& receiver_actualname, TDateTime sendtime);
    bool AddGroupMessage(const QByteArray& msgid, int32_t groupid, TMsgLevel msglevel, const QString& content, const QString& font,
                         int32_t sender_userid, const QString& sender_nickname, const QString& sender_actualname, TDateTime sendtime);
    bool AddRoomMessage(const QByteArray& msgid, int32_t roomid, TMsgLevel msglevel, const QString& content, const QString& font,
                        int32_t sender_userid, const QString& sender_nickname, const QString& sender_actualname, TDateTime sendtime);
    bool AddSMSChatMsg(const QByteArray& msgid, int32_t itemid, int16_t flag, const QString& sender, const QString& mobile,
                       const QString& content, TDateTime sendtime);
    bool AddSysMsg(int64_t sysmsgid, const QString& title, const QString& category, const QString& content, const QString& link,
                   const QString& attachfile, int16_t needreaded, int16_t needfeedback, TDateTime sendtime);

    // Paged reads append the page's records, oldest first. Pages count from 1,
    // -1 is the last; maxpageindex receives the number of pages (at least 1).
    // A page size of 0 or less reads nothing and leaves maxpageindex alone.
    bool GetMessages(int32_t userid1, int32_t userid2, int pagesize, int pageindex, TUSERDBOBJ_Messages& AMessages, int& maxpageindex);
    bool GetGroupMessages(int32_t groupid, int pagesize, int pageindex, TUSERDBOBJ_GroupMessages& AGroupMessages, int& maxpageindex);
    bool GetRoomMessages(int32_t roomid, int pagesize, int pageindex, TUSERDBOBJ_RoomMessages& ARoomMessages, int& maxpageindex);
    bool GetSMSChatMsgs(int32_t itemid, int pagesize, int pageindex, TUSERDBOBJ_SMSChatMsgs& ASMSChatMsgs, int& maxpageindex);
    // Newest first (page 1 is the newest); returns the number of items appended.
    int GetSysMsgs(int pagesize, int pageindex, TUSERDBOBJ_SysMsgs& ASysMsgs, int& maxpageindex);

    bool ClearMessages(int32_t userid1, int32_t userid2);
    bool ClearGroupMessages(int32_t groupid);
    bool ClearRoomMessages(int32_t roomid);
    bool ClearSMSChatMsgs(int32_t itemid);
    bool ClearSysMsgs();
    bool RemoveMessage(const QByteArray& msgid);
    bool RemoveGroupMessage(const QByteArray& msgid);
    bool RemoveRoomMessage(const QByteArray& msgid);
    bool RemoveSMSChatMsg(const QByteArray& msgid);
    bool RemoveSysMsg(int64_t sysmsgid);
    bool SysMsgReaded(int64_t sysmsgid);
    bool SysMsgFeedback(int64_t sysmsgid);
    int GetUnReadSysMsgCount();
    int GetUnFeedbackSysMsgCount();

    // Brackets many writes (offline messages arriving together) in one transaction.
    bool BeginBatch();
    bool CommitBatch();

private:
    bool Written(bool ok, const char* method);
    bool ReadDone(bool ok, const char* method);

    QString FFileName;
    TUserDbStore FStore;
};

} // namespace pelvox
