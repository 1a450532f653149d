#pragma once
#include "data/Client_Common.h"
#include "data/SqliteDb.h"
#include "platform/DateTime.h"
#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

namespace pelvox {

// The records the message store hands out (and takes in).
struct TUSERDBOBJ_Message {
    QByteArray MsgId;
    TMsgType MsgType = mtChatMsg;
    TMsgLevel MsgLevel = mlNormal;
    QString Content;
    QString Font;
    int32_t Sender_UserId = 0;
    QString Sender_NickName;
    QString Sender_ActualName;
    int32_t Receiver_UserId = 0;
    QString Receiver_NickName;
    QString Receiver_ActualName;
    TDateTime Sendtime = 0;
};

struct TUSERDBOBJ_GroupMessage {
    QByteArray MsgId;
    int32_t GroupId = 0;
    TMsgLevel MsgLevel = mlNormal;
    QString Content;
    QString Font;
    int32_t Sender_UserId = 0;
    QString Sender_NickName;
    QString Sender_ActualName;
    TDateTime SendTime = 0;
};

struct TUSERDBOBJ_RoomMessage {
    QByteArray MsgId;
    int32_t RoomId = 0;
    TMsgLevel MsgLevel = mlNormal;
    QString Content;
    QString Font;
    int32_t Sender_UserId = 0;
    QString Sender_NickName;
    QString Sender_ActualName;
    TDateTime SendTime = 0;
};

struct TUSERDBOBJ_SMSChatMsg {
    QByteArray MsgId;
    int32_t ItemId = 0;
    int16_t Flag = 0;
    QString Sender;
    QString Mobile;
    QString Content;
    TDateTime SendTime = 0;
};

struct TUSERDBOBJ_SysMsg {
    int64_t SysMsgId = 0;
    QString Title;
    QString Category;
    QString Content;
    QString Link;
    QString Attachfile;
    int16_t NeedReaded = 0;
    int16_t NeedFeedback = 0;
    int16_t Readed = 0;
    int16_t Feedback = 0;
    QString FeedbackText;
    TDateTime SendTime = 0;
};

using TUSERDBOBJ_Messages = std::vector<TUSERDBOBJ_Message>;
using TUSERDBOBJ_GroupMessages = std::vector<TUSERDBOBJ_GroupMessage>;
using TUSERDBOBJ_RoomMessages = std::vector<TUSERDBOBJ_RoomMessage>;
using TUSERDBOBJ_SMSChatMsgs = std::vector<TUSERDBOBJ_SMSChatMsg>;
using TUSERDBOBJ_SysMsgs = std::vector<TUSERDBOBJ_SysMsg>;

// The conversation key of a one-to-one history: the same for both directions.
int64_t UserPairKey(int32_t AUserId1, int32_t AUserId2);

// The user's message history in one SQLite file. Every call reports success;
// after a failure LastErrorCode/LastError tell why. Calls on a closed store
// fail without touching anything. One thread (the UI thread) uses it.
class TUserDbStore {
public:
    // Longest text accepted, in UTF-16 code units (1 MiB).
    static constexpr qsizetype MaxTextLength = 512 * 1024;
    // Application id written into the file header, so a foreign SQLite file is recognised.
    static constexpr int32_t ApplicationId = 0x50564442; // "PVDB"

    TUserDbStore();
    ~TUserDbStore();
    TUserDbStore(const TUserDbStore&) = delete;
    TUserDbStore& operator=(const TUserDbStore&) = delete;

    // Opens or creates the store. A file that is not a store of ours is renamed
    // aside (RenamedAside tells where) and a new store is created in its place.
    bool Open(const QString& AFileName);
    void Close();
    bool IsOpen() const { return FDb.IsOpen(); }
    const QString& RenamedAside() const { return FRenamedAside; }

    // A resent message (same id in the same conversation) is kept once; adding
    // it again succeeds without storing anything.
    bool Add(const TUSERDBOBJ_Message& AMsg);
    bool Add(const TUSERDBOBJ_GroupMessage& AMsg);
    bool Add(const TUSERDBOBJ_RoomMessage& AMsg);
    bool Add(const TUSERDBOBJ_SMSChatMsg& AMsg);
    // An existing system message keeps its read and feedback flags.
    bool Add(const TUSERDBOBJ_SysMsg& AMsg);

    // Pages count from 1; -1 is the last page. Pages are cut from the newest
    // end, so the last page holds the newest APageSize records and page 1 may be
    // short. Records come oldest first. AMaxPage is the number of pages (>= 1).
    bool GetMessages(int32_t AUserId1, int32_t AUserId2, int APageSize, int APageIndex, TUSERDBOBJ_Messages& AOut, int& AMaxPage);
    bool GetGroupMessages(int32_t AGroupId, int APageSize, int APageIndex, TUSERDBOBJ_GroupMessages& AOut, int& AMaxPage);
    bool GetRoomMessages(int32_t ARoomId, int APageSize, int APageIndex, TUSERDBOBJ_RoomMessages& AOut, int& AMaxPage);
    bool GetSMSChatMsgs(int32_t AItemId, int APageSize, int APageIndex, TUSERDBOBJ_SMSChatMsgs& AOut, int& AMaxPage);
    // System messages come newest first: page 1 holds the newest, the last page may be short.
    bool GetSysMsgs(int APageSize, int APageIndex, TUSERDBOBJ_SysMsgs& AOut, int& AMaxPage);

    bool ClearMessages(int32_t AUserId1, int32_t AUserId2);
    bool ClearGroupMessages(int32_t AGroupId);
    bool ClearRoomMessages(int32_t ARoomId);
    bool ClearSMSChatMsgs(int32_t AItemId);
    bool ClearSysMsgs();

    // Removal by message id, in whichever conversation it is.
    bool RemoveMessage(const QByteArray& AMsgId);
    bool RemoveGroupMessage(const QByteArray& AMsgId);
    bool RemoveRoomMessage(const QByteArray& AMsgId);
    bool RemoveSMSChatMsg(const QByteArray& AMsgId);

    bool RemoveSysMsg(int64_t ASysMsgId);
    bool SysMsgReaded(int64_t ASysMsgId);
    bool SysMsgFeedback(int64_t ASysMsgId);
    // -1 when the store cannot be read.
    int GetUnReadSysMsgCount();
    int GetUnFeedbackSysMsgCount();

    // Many writes in one transaction (offline messages arriving together).
    // Writes between them still report their own success.
    bool BeginBatch();
    bool CommitBatch();
    void RollbackBatch();
    bool InBatch() const { return FInBatch; }

    int LastErrorCode() const { return FLastErrorCode; }
    const QString& LastError() const { return FLastError; }

    // History kinds; also the slots of the per-kind statements.
    enum TKind { kChat = 0, kGroup = 1, kRoom = 2, kSMS = 3, kSys = 4, KindCount = 5 };

private:
    template <class Rec> friend struct TRecordTraits;
    template <class Rec> bool AddRecord(const Rec& ARec);
    template <class Rec> bool ReadPage(int64_t AKey, int APageSize, int APageIndex, std::vector<Rec>& AOut, int& AMaxPage);
    template <class Rec> bool RemoveById(const QByteArray& AMsgId);
    bool ClearKey(TKind AKind, int64_t AKey);
    bool CreateSchema();
    bool OpenFile(const QString& AFileName);
    bool Fail(int rc, const QString& what);
    bool Fail(const QString& what);
    bool CheckOpen();
    bool Savepoint();
    bool Release(bool ok);
    int64_t Count(TKind AKind, int64_t AKey, bool& ok);
    TSqliteStmt& Stmt(int slot, const QString& sql);

    TSqliteDb FDb;
    std::vector<TSqliteStmt> FStmts;
    bool FInBatch = false;
    int FLastErrorCode = 0;
    QString FLastError;
    QString FRenamedAside;
};

} // namespace pelvox
