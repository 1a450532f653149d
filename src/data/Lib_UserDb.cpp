#include "data/Lib_UserDb.h"
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <sqlite3.h>

namespace pelvox {

int64_t UserPairKey(int32_t AUserId1, int32_t AUserId2)
{
    const uint32_t lo = uint32_t(std::min(AUserId1, AUserId2));
    const uint32_t hi = uint32_t(std::max(AUserId1, AUserId2));
    return int64_t((uint64_t(lo) << 32) | hi);
}

namespace {

enum TOp { opExists, opCountUp, opInsert, opPageDesc, opPageAsc, opClear, opClearCount, opCount, opRemoveId, opCountDown,
           opSysUnread, opSysUnfeedback, opSysReaded, opSysFeedback, opOpCount };
constexpr int SlotsPerKind = 16;
static_assert(opOpCount <= SlotsPerKind);
enum TGlobalOp { gSavepoint = TUserDbStore::KindCount * SlotsPerKind, gRelease, gRollbackTo, gBegin, gCommit, gRollback, gSlotCount };

// Message ids are normally 32 lower-case hexadecimal digits: kept as 16 bytes.
// Anything else is kept as its own text.
bool IsPackableId(const QByteArray& id)
{
    if (id.size() != 32) return false;
    return std::all_of(id.begin(), id.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

void BindMsgId(TSqliteStmt& st, int pos, const QByteArray& id)
{
    if (IsPackableId(id)) st.BindBlob(pos, QByteArray::fromHex(id));
    else st.BindText(pos, QString::fromLatin1(id));
}

QByteArray ReadMsgId(const TSqliteStmt& st, int col)
{
    if (st.ColumnIsBlob(col)) return st.ColumnBlob(col).toHex();
    return st.ColumnText(col).toLatin1();
}

// A stable hash of the id (qHash is seeded per process).
int64_t IdHash(const QByteArray& id)
{
    uint64_t h = 1469598103934665603ull;
    for (char c : id) {
        h ^= uint8_t(c);
        h *= 1099511628211ull;
    }
    return int64_t(h);
}

bool TextsFit(std::initializer_list<const QString*> texts)
{
    return std::all_of(texts.begin(), texts.end(), [](const QString* t) { return t->size() <= TUserDbStore::MaxTextLength; });
}

// Which records of n make up page `index` of `size`, cut from the newest end.
struct TPageCut {
    int MaxPage = 1;
    int64_t Offset = 0; // from the oldest end when Ascending, else from the newest
    int64_t Count = 0;
    bool Ascending = true;
};

TPageCut CutPage(int64_t n, int size, int index)
{
    TPageCut cut;
    const int64_t pages = std::max<int64_t>(1, (n + size - 1) / size);
    cut.MaxPage = int(std::min<int64_t>(pages, INT32_MAX));
    const int64_t page = index == -1 ? pages : index;
    if (page < 1 || page > pages) return cut;
    const int64_t newer = (pages - page) * int64_t(size); // records after this page
    const int64_t hi = n - newer;
    const int64_t lo = std::max<int64_t>(0, hi - size);
    cut.Count = hi - lo;
    // Skip from whichever end is nearer.
    cut.Ascending = lo <= newer;
    cut.Offset = cut.Ascending ? lo : newer;
    return cut;
}

} // namespace

// Per-record column layout of the four message histories. Every history table
// starts with ckey, sendtime, seq, mh, msgid; seq keeps insertion order among
// equal times; mh is a hash of the id for finding a resent message.
template <class Rec> struct TRecordTraits;

template <> struct TRecordTraits<TUSERDBOBJ_Message> {
    using Rec = TUSERDBOBJ_Message;
    static constexpr TUserDbStore::TKind Kind = TUserDbStore::kChat;
    static constexpr const char* Table = "chatmsg";
    static constexpr const char* Decl = "msgtype INTEGER, msglevel INTEGER, content TEXT, font TEXT, s_id INTEGER, s_nick TEXT, "
                                        "s_actual TEXT, r_id INTEGER, r_nick TEXT, r_actual TEXT";
    static constexpr const char* Cols = "msgtype,msglevel,content,font,s_id,s_nick,s_actual,r_id,r_nick,r_actual";
    static constexpr int ColCount = 10;
    static int64_t Key(const Rec& r) { return UserPairKey(r.Sender_UserId, r.Receiver_UserId); }
    static TDateTime Time(const Rec& r) { return r.Sendtime; }
    static bool Fits(const Rec& r)
    {
        return TextsFit({&r.Content, &r.Font, &r.Sender_NickName, &r.Sender_ActualName, &r.Receiver_NickName, &r.Receiver_ActualName});
    }
    static void Bind(TSqliteStmt& s, int p, const Rec& r)
    {
        s.BindInt(p, r.MsgType);
        s.BindInt(p + 1, r.MsgLevel);
        s.BindText(p + 2, r.Content);
        s.BindText(p + 3, r.Font);
        s.BindInt(p + 4, r.Sender_UserId);
        s.BindText(p + 5, r.Sender_NickName);
        s.BindText(p + 6, r.Sender_ActualName);
        s.BindInt(p + 7, r.Receiver_UserId);
        s.BindText(p + 8, r.Receiver_NickName);
        s.BindText(p + 9, r.Receiver_ActualName);
    }
    static void Read(const TSqliteStmt& s, int c, int64_t, Rec& r)
    {
        r.MsgType = TMsgType(s.ColumnInt(c));
        r.MsgLevel = TMsgLevel(s.ColumnInt(c + 1));
        r.Content = s.ColumnText(c + 2);
        r.Font = s.ColumnText(c + 3);
        r.Sender_UserId = int32_t(s.ColumnInt(c + 4));
        r.Sender_NickName = s.ColumnText(c + 5);
        r.Sender_ActualName = s.ColumnText(c + 6);
        r.Receiver_UserId = int32_t(s.ColumnInt(c + 7));
        r.Receiver_NickName = s.ColumnText(c + 8);
        r.Receiver_ActualName = s.ColumnText(c + 9);
    }
    static void SetHead(Rec& r, QByteArray id, TDateTime t)
    {
        r.MsgId = std::move(id);
        r.Sendtime = t;
    }
};

// Group and room messages share one shape; the group or room id is the key.
template <class Rec, TUserDbStore::TKind K, int32_t Rec::*IdField> struct TChannelTraits {
    static constexpr TUserDbStore::TKind Kind = K;
    static constexpr const char* Decl = "msglevel INTEGER, content TEXT, font TEXT, s_id INTEGER, s_nick TEXT, s_actual TEXT";
    static constexpr const char* Cols = "msglevel,content,font,s_id,s_nick,s_actual";
    static constexpr int ColCount = 6;
    static int64_t Key(const Rec& r) { return r.*IdField; }
    static TDateTime Time(const Rec& r) { return r.SendTime; }
    static bool Fits(const Rec& r) { return TextsFit({&r.Content, &r.Font, &r.Sender_NickName, &r.Sender_ActualName}); }
    static void Bind(TSqliteStmt& s, int p, const Rec& r)
    {
        s.BindInt(p, r.MsgLevel);
        s.BindText(p + 1, r.Content);
        s.BindText(p + 2, r.Font);
        s.BindInt(p + 3, r.Sender_UserId);
        s.BindText(p + 4, r.Sender_NickName);
        s.BindText(p + 5, r.Sender_ActualName);
    }
    static void Read(const TSqliteStmt& s, int c, int64_t key, Rec& r)
    {
        r.*IdField = int32_t(key);
        r.MsgLevel = TMsgLevel(s.ColumnInt(c));
        r.Content = s.ColumnText(c + 1);
        r.Font = s.ColumnText(c + 2);
        r.Sender_UserId = int32_t(s.ColumnInt(c + 3));
        r.Sender_NickName = s.ColumnText(c + 4);
        r.Sender_ActualName = s.ColumnText(c + 5);
    }
    static void SetHead(Rec& r, QByteArray id, TDateTime t)
    {
        r.MsgId = std::move(id);
        r.SendTime = t;
    }
};

template <> struct TRecordTraits<TUSERDBOBJ_GroupMessage>
    : TChannelTraits<TUSERDBOBJ_GroupMessage, TUserDbStore::kGroup, &TUSERDBOBJ_GroupMessage::GroupId> {
    static constexpr const char* Table = "groupmsg";
};
template <> struct TRecordTraits<TUSERDBOBJ_RoomMessage>
    : TChannelTraits<TUSERDBOBJ_RoomMessage, TUserDbStore::kRoom, &TUSERDBOBJ_RoomMessage::RoomId> {
    static constexpr const char* Table = "roommsg";
};

template <> struct TRecordTraits<TUSERDBOBJ_SMSChatMsg> {
    using Rec = TUSERDBOBJ_SMSChatMsg;
    static constexpr TUserDbStore::TKind Kind = TUserDbStore::kSMS;
    static constexpr const char* Table = "smsmsg";
    static constexpr const char* Decl = "flag INTEGER, sender TEXT, mobile TEXT, content TEXT";
    static constexpr const char* Cols = "flag,sender,mobile,content";
    static constexpr int ColCount = 4;
    static int64_t Key(const Rec& r) { return r.ItemId; }
    static TDateTime Time(const Rec& r) { return r.SendTime; }
    static bool Fits(const Rec& r) { return TextsFit({&r.Sender, &r.Mobile, &r.Content}); }
    static void Bind(TSqliteStmt& s, int p, const Rec& r)
    {
        s.BindInt(p, r.Flag);
        s.BindText(p + 1, r.Sender);
        s.BindText(p + 2, r.Mobile);
        s.BindText(p + 3, r.Content);
    }
    static void Read(const TSqliteStmt& s, int c, int64_t key, Rec& r)
    {
        r.ItemId = int32_t(key);
        r.Flag = int16_t(s.ColumnInt(c));
        r.Sender = s.ColumnText(c + 1);
        r.Mobile = s.ColumnText(c + 2);
        r.Content = s.ColumnText(c + 3);
    }
    static void SetHead(Rec& r, QByteArray id, TDateTime t)
    {
        r.MsgId = std::move(id);
        r.SendTime = t;
    }
};

namespace {

template <class Rec> QString CreateHistorySql()
{
    using T = TRecordTraits<Rec>;
    return QStringLiteral("CREATE TABLE IF NOT EXISTS %1(ckey INTEGER NOT NULL, sendtime REAL NOT NULL, seq INTEGER NOT NULL, "
                          "mh INTEGER NOT NULL, msgid BLOB, %2, PRIMARY KEY(ckey, sendtime, seq)) WITHOUT ROWID;"
                          "CREATE INDEX IF NOT EXISTS %1_id ON %1(ckey, mh);")
        .arg(QLatin1String(T::Table), QLatin1String(T::Decl));
}

const char* const SysMsgCols = "id,title,category,content,link,attachfile,needreaded,needfeedback,readed,feedback,feedbacktext,sendtime";

} // namespace

TUserDbStore::TUserDbStore() = default;
TUserDbStore::~TUserDbStore() { Close(); }

TSqliteStmt& TUserDbStore::Stmt(int slot, const QString& sql)
{
    if (FStmts.empty()) FStmts.resize(gSlotCount);
    TSqliteStmt& st = FStmts[size_t(slot)];
    if (!st.Valid()) st = FDb.Prepare(sql.toUtf8().constData());
    else st.Reset();
    return st;
}

bool TUserDbStore::Fail(int rc, const QString& what)
{
    FLastErrorCode = rc;
    FLastError = what + QStringLiteral(": ") + (FDb.IsOpen() ? FDb.LastError() : QString::fromUtf8(sqlite3_errstr(rc)));
    return false;
}

bool TUserDbStore::Fail(const QString& what)
{
    FLastErrorCode = SQLITE_ERROR;
    FLastError = what;
    return false;
}

bool TUserDbStore::CheckOpen()
{
    if (FDb.IsOpen()) return true;
    FLastErrorCode = SQLITE_MISUSE;
    FLastError = QStringLiteral("the message store is not open");
    return false;
}

bool TUserDbStore::Savepoint()
{
    TSqliteStmt& st = Stmt(gSavepoint, QStringLiteral("SAVEPOINT w"));
    const int rc = st.Step();
    return rc == SQLITE_DONE || Fail(rc, QStringLiteral("savepoint"));
}

bool TUserDbStore::Release(bool ok)
{
    if (!ok) {
        // Keep the failure's own error; undo its partial work.
        const int code = FLastErrorCode;
        const QString text = FLastError;
        Stmt(gRollbackTo, QStringLiteral("ROLLBACK TO w")).Step();
        Stmt(gRelease, QStringLiteral("RELEASE w")).Step();
        FLastErrorCode = code;
        FLastError = text;
        return false;
    }
    const int rc = Stmt(gRelease, QStringLiteral("RELEASE w")).Step();
    if (rc == SQLITE_DONE) return true;
    Fail(rc, QStringLiteral("commit"));
    // A failed commit leaves the transaction open: undo it.
    Stmt(gRollbackTo, QStringLiteral("ROLLBACK TO w")).Step();
    Stmt(gRelease, QStringLiteral("RELEASE w")).Step();
    return false;
}

namespace {

bool LooksLikeSqlite(const QString& fileName)
{
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly)) return true; // let SQLite report what is wrong
    if (f.size() == 0) return true;
    return f.read(16) == QByteArray("SQLite format 3\0", 16);
}

// Moves a file that is not ours out of the way; never overwrites anything.
QString RenameAside(const QString& fileName)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = fileName + u'.' + stamp + QStringLiteral(".bad");
    for (int n = 1; QFileInfo::exists(target); ++n) target = fileName + u'.' + stamp + u'-' + QString::number(n) + QStringLiteral(".bad");
    if (!QFile::rename(fileName, target)) return QString();
    // Journal files beside it belong to the old file, not to the new store.
    if (QFileInfo::exists(fileName + QStringLiteral("-wal"))) QFile::rename(fileName + QStringLiteral("-wal"), target + QStringLiteral("-wal"));
    QFile::remove(fileName + QStringLiteral("-shm"));
    return target;
}

bool IsNotOurs(int rc) { return rc == SQLITE_NOTADB || rc == SQLITE_CORRUPT; }

} // namespace

bool TUserDbStore::Open(const QString& AFileName)
{
    Close();
    FRenamedAside.clear();
    FLastErrorCode = 0;
    FLastError.clear();
    bool aside = QFileInfo::exists(AFileName) && !LooksLikeSqlite(AFileName);
    if (!aside) {
        if (OpenFile(AFileName)) return true;
        Close();
        if (!IsNotOurs(FLastErrorCode)) return false;
        aside = true;
    }
    FRenamedAside = RenameAside(AFileName);
    if (FRenamedAside.isEmpty()) return Fail(SQLITE_CANTOPEN, QStringLiteral("cannot move aside ") + AFileName);
    if (OpenFile(AFileName)) return true;
    Close();
    return false;
}

bool TUserDbStore::OpenFile(const QString& AFileName)
{
    int rc = FDb.Open(AFileName);
    if (rc != SQLITE_OK) return Fail(rc, QStringLiteral("open ") + AFileName);
    // Only takes effect while the file is new: every text is kept as UTF-16 code units.
    FDb.Exec("PRAGMA encoding='UTF-16le'");
    int64_t appId = 0, tables = 0;
    {
        TSqliteStmt st = FDb.Prepare("SELECT (SELECT count(*) FROM sqlite_schema), application_id FROM pragma_application_id");
        if (!st.Valid()) return Fail(st.PrepareResult(), QStringLiteral("read ") + AFileName);
        rc = st.Step();
        if (rc != SQLITE_ROW) return Fail(rc, QStringLiteral("read ") + AFileName);
        tables = st.ColumnInt(0);
        appId = st.ColumnInt(1);
    }
    if (tables > 0 && appId != ApplicationId) return Fail(SQLITE_NOTADB, QStringLiteral("not a message store: ") + AFileName);
    if ((rc = FDb.Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA cache_size=-16384; PRAGMA temp_store=MEMORY")) != SQLITE_OK)
        return Fail(rc, QStringLiteral("configure ") + AFileName);
    return CreateSchema();
}

bool TUserDbStore::CreateSchema()
{
    QString sql = QStringLiteral("BEGIN IMMEDIATE;");
    sql += CreateHistorySql<TUSERDBOBJ_Message>();
    sql += CreateHistorySql<TUSERDBOBJ_GroupMessage>();
    sql += CreateHistorySql<TUSERDBOBJ_RoomMessage>();
    sql += CreateHistorySql<TUSERDBOBJ_SMSChatMsg>();
    // Number of records and the next insertion number of each conversation, so
    // page counts never scan a history.
    sql += QStringLiteral("CREATE TABLE IF NOT EXISTS convcount(kind INTEGER NOT NULL, ckey INTEGER NOT NULL, n INTEGER NOT NULL, "
                          "nextseq INTEGER NOT NULL, PRIMARY KEY(kind, ckey)) WITHOUT ROWID;"
                          "CREATE TABLE IF NOT EXISTS sysmsg(id INTEGER NOT NULL UNIQUE, title TEXT, category TEXT, content TEXT, "
                          "link TEXT, attachfile TEXT, needreaded INTEGER, needfeedback INTEGER, readed INTEGER, feedback INTEGER, "
                          "feedbacktext TEXT, sendtime REAL NOT NULL);"
                          "CREATE INDEX IF NOT EXISTS sysmsg_time ON sysmsg(sendtime);"
                          "CREATE INDEX IF NOT EXISTS sysmsg_unread ON sysmsg(readed) WHERE readed=0;");
    sql += QStringLiteral("PRAGMA application_id=%1; PRAGMA user_version=1; COMMIT;").arg(ApplicationId);
    const int rc = FDb.Exec(sql.toUtf8().constData());
    if (rc == SQLITE_OK) return true;
    Fail(rc, QStringLiteral("create the message store"));
    FDb.Exec("ROLLBACK");
    return false;
}

void TUserDbStore::Close()
{
    if (FInBatch) RollbackBatch();
    FStmts.clear();
    FDb.Close();
}

int64_t TUserDbStore::Count(TKind AKind, int64_t AKey, bool& ok)
{
    TSqliteStmt& st = Stmt(AKind * SlotsPerKind + opCount, QStringLiteral("SELECT n FROM convcount WHERE kind=?1 AND ckey=?2"));
    st.BindInt(1, AKind);
    st.BindInt(2, AKey);
    const int rc = st.Step();
    ok = rc == SQLITE_ROW || rc == SQLITE_DONE;
    if (!ok) Fail(rc, QStringLiteral("count"));
    return rc == SQLITE_ROW ? st.ColumnInt(0) : 0;
}

template <class Rec> bool TUserDbStore::AddRecord(const Rec& ARec)
{
    using T = TRecordTraits<Rec>;
    if (!CheckOpen()) return false;
    if (!T::Fits(ARec)) return Fail(SQLITE_TOOBIG, QStringLiteral("a text is longer than %1 characters").arg(MaxTextLength));
    const int base = T::Kind * SlotsPerKind;
    const QLatin1String table(T::Table);
    const int64_t key = T::Key(ARec);
    const int64_t hash = IdHash(ARec.MsgId);
    if (!Savepoint()) return false;
    if (!ARec.MsgId.isEmpty()) {
        TSqliteStmt& ex = Stmt(base + opExists, QStringLiteral("SELECT 1 FROM %1 WHERE ckey=?1 AND mh=?2 AND msgid=?3").arg(table));
        ex.BindInt(1, key);
        ex.BindInt(2, hash);
        BindMsgId(ex, 3, ARec.MsgId);
        const int rc = ex.Step();
        if (rc == SQLITE_ROW) return Release(true); // resent: kept once
        if (rc != SQLITE_DONE) return Release(Fail(rc, QStringLiteral("look up a message")));
    }
    TSqliteStmt& up = Stmt(base + opCountUp,
                           QStringLiteral("INSERT INTO convcount(kind,ckey,n,nextseq) VALUES(?1,?2,1,1) "
                                          "ON CONFLICT(kind,ckey) DO UPDATE SET n=n+1, nextseq=nextseq+1 RETURNING nextseq"));
    up.BindInt(1, T::Kind);
    up.BindInt(2, key);
    int rc = up.Step();
    if (rc != SQLITE_ROW) return Release(Fail(rc, QStringLiteral("count a message")));
    const int64_t seq = up.ColumnInt(0);
    while (up.Step() == SQLITE_ROW) {
    }
    QString marks;
    for (int i = 0; i < T::ColCount; ++i) marks += QStringLiteral(",?%1").arg(6 + i);
    TSqliteStmt& ins = Stmt(base + opInsert, QStringLiteral("INSERT INTO %1(ckey,sendtime,seq,mh,msgid,%2) VALUES(?1,?2,?3,?4,?5%3)")
                                                 .arg(table, QLatin1String(T::Cols), marks));
    ins.BindInt(1, key);
    ins.BindDouble(2, T::Time(ARec));
    ins.BindInt(3, seq);
    ins.BindInt(4, hash);
    BindMsgId(ins, 5, ARec.MsgId);
    T::Bind(ins, 6, ARec);
    rc = ins.Step();
    if (rc != SQLITE_DONE) return Release(Fail(rc, QStringLiteral("store a message")));
    return Release(true);
}

bool TUserDbStore::Add(const TUSERDBOBJ_Message& AMsg) { return AddRecord(AMsg); }
bool TUserDbStore::Add(const TUSERDBOBJ_GroupMessage& AMsg) { return AddRecord(AMsg); }
bool TUserDbStore::Add(const TUSERDBOBJ_RoomMessage& AMsg) { return AddRecord(AMsg); }
bool TUserDbStore::Add(const TUSERDBOBJ_SMSChatMsg& AMsg) { return AddRecord(AMsg); }

template <class Rec>
bool TUserDbStore::ReadPage(int64_t AKey, int APageSize, int APageIndex, std::vector<Rec>& AOut, int& AMaxPage)
{
    using T = TRecordTraits<Rec>;
    if (APageSize <= 0) return true; // nothing asked: maxpage stays as it was
    AMaxPage = 1;
    if (!CheckOpen()) return false;
    bool ok = false;
    const int64_t n = Count(T::Kind, AKey, ok);
    if (!ok) return false;
    const TPageCut cut = CutPage(n, APageSize, APageIndex);
    AMaxPage = cut.MaxPage;
    if (cut.Count == 0) return true;
    const int base = T::Kind * SlotsPerKind;
    const QString sql = QStringLiteral("SELECT msgid,sendtime,%1 FROM %2 WHERE ckey=?1 ORDER BY sendtime %3, seq %3 LIMIT ?2 OFFSET ?3")
                            .arg(QLatin1String(T::Cols), QLatin1String(T::Table));
    TSqliteStmt& st = cut.Ascending ? Stmt(base + opPageAsc, sql.arg(QStringLiteral("ASC")))
                                    : Stmt(base + opPageDesc, sql.arg(QStringLiteral("DESC")));
    st.BindInt(1, AKey);
    st.BindInt(2, cut.Count);
    st.BindInt(3, cut.Offset);
    const size_t first = AOut.size();
    AOut.reserve(first + size_t(cut.Count));
    int rc;
    while ((rc = st.Step()) == SQLITE_ROW) {
        Rec r;
        T::SetHead(r, ReadMsgId(st, 0), st.ColumnDouble(1));
        T::Read(st, 2, AKey, r);
        AOut.push_back(std::move(r));
    }
    if (rc != SQLITE_DONE) {
        AOut.resize(first);
        return Fail(rc, QStringLiteral("read a page"));
    }
    if (!cut.Ascending) std::reverse(AOut.begin() + ptrdiff_t(first), AOut.end());
    return true;
}

bool TUserDbStore::GetMessages(int32_t AUserId1, int32_t AUserId2, int APageSize, int APageIndex, TUSERDBOBJ_Messages& AOut, int& AMaxPage)
{
    return ReadPage(UserPairKey(AUserId1, AUserId2), APageSize, APageIndex, AOut, AMaxPage);
}

bool TUserDbStore::GetGroupMessages(int32_t AGroupId, int APageSize, int APageIndex, TUSERDBOBJ_GroupMessages& AOut, int& AMaxPage)
{
    return ReadPage(AGroupId, APageSize, APageIndex, AOut, AMaxPage);
}

bool TUserDbStore::GetRoomMessages(int32_t ARoomId, int APageSize, int APageIndex, TUSERDBOBJ_RoomMessages& AOut, int& AMaxPage)
{
    return ReadPage(ARoomId, APageSize, APageIndex, AOut, AMaxPage);
}

bool TUserDbStore::GetSMSChatMsgs(int32_t AItemId, int APageSize, int APageIndex, TUSERDBOBJ_SMSChatMsgs& AOut, int& AMaxPage)
{
    return ReadPage(AItemId, APageSize, APageIndex, AOut, AMaxPage);
}

namespace {
const char* const HistoryTables[] = {"chatmsg", "groupmsg", "roommsg", "smsmsg"};
}

bool TUserDbStore::ClearKey(TKind AKind, int64_t AKey)
{
    if (!CheckOpen()) return false;
    const int base = AKind * SlotsPerKind;
    if (!Savepoint()) return false;
    TSqliteStmt& del = Stmt(base + opClear, QStringLiteral("DELETE FROM %1 WHERE ckey=?1").arg(QLatin1String(HistoryTables[AKind])));
    del.BindInt(1, AKey);
    int rc = del.Step();
    if (rc != SQLITE_DONE) return Release(Fail(rc, QStringLiteral("clear a history")));
    TSqliteStmt& cnt = Stmt(base + opClearCount, QStringLiteral("DELETE FROM convcount WHERE kind=?1 AND ckey=?2"));
    cnt.BindInt(1, AKind);
    cnt.BindInt(2, AKey);
    rc = cnt.Step();
    if (rc != SQLITE_DONE) return Release(Fail(rc, QStringLiteral("clear a history")));
    return Release(true);
}

bool TUserDbStore::ClearMessages(int32_t AUserId1, int32_t AUserId2) { return ClearKey(kChat, UserPairKey(AUserId1, AUserId2)); }
bool TUserDbStore::ClearGroupMessages(int32_t AGroupId) { return ClearKey(kGroup, AGroupId); }
bool TUserDbStore::ClearRoomMessages(int32_t ARoomId) { return ClearKey(kRoom, ARoomId); }
bool TUserDbStore::ClearSMSChatMsgs(int32_t AItemId) { return ClearKey(kSMS, AItemId); }

template <class Rec> bool TUserDbStore::RemoveById(const QByteArray& AMsgId)
{
    using T = TRecordTraits<Rec>;
    if (!CheckOpen()) return false;
    const int base = T::Kind * SlotsPerKind;
    if (!Savepoint()) return false;
    // Rarely used: a scan is acceptable here.
    TSqliteStmt& del = Stmt(base + opRemoveId,
                            QStringLiteral("DELETE FROM %1 WHERE mh=?1 AND msgid=?2 RETURNING ckey").arg(QLatin1String(T::Table)));
    del.BindInt(1, IdHash(AMsgId));
    BindMsgId(del, 2, AMsgId);
    std::vector<int64_t> keys;
    int rc;
    while ((rc = del.Step()) == SQLITE_ROW) keys.push_back(del.ColumnInt(0));
    if (rc != SQLITE_DONE) return Release(Fail(rc, QStringLiteral("remove a message")));
    for (int64_t key : keys) {
        TSqliteStmt& dn = Stmt(base + opCountDown, QStringLiteral("UPDATE convcount SET n=n-1 WHERE kind=?1 AND ckey=?2"));
        dn.BindInt(1, T::Kind);
        dn.BindInt(2, key);
        if ((rc = dn.Step()) != SQLITE_DONE) return Release(Fail(rc, QStringLiteral("remove a message")));
    }
    return Release(true);
}

bool TUserDbStore::RemoveMessage(const QByteArray& AMsgId) { return RemoveById<TUSERDBOBJ_Message>(AMsgId); }
bool TUserDbStore::RemoveGroupMessage(const QByteArray& AMsgId) { return RemoveById<TUSERDBOBJ_GroupMessage>(AMsgId); }
bool TUserDbStore::RemoveRoomMessage(const QByteArray& AMsgId) { return RemoveById<TUSERDBOBJ_RoomMessage>(AMsgId); }
bool TUserDbStore::RemoveSMSChatMsg(const QByteArray& AMsgId) { return RemoveById<TUSERDBOBJ_SMSChatMsg>(AMsgId); }

// System messages: one history keyed by their own 64-bit id.

bool TUserDbStore::Add(const TUSERDBOBJ_SysMsg& AMsg)
{
    if (!CheckOpen()) return false;
    if (!TextsFit({&AMsg.Title, &AMsg.Category, &AMsg.Content, &AMsg.Link, &AMsg.Attachfile, &AMsg.FeedbackText}))
        return Fail(SQLITE_TOOBIG, QStringLiteral("a text is longer than %1 characters").arg(MaxTextLength));
    const int base = kSys * SlotsPerKind;
    if (!Savepoint()) return false;
    TSqliteStmt& ins = Stmt(base + opInsert, QStringLiteral("INSERT INTO sysmsg(%1) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12) "
                                                            "ON CONFLICT(id) DO NOTHING")
                                                 .arg(QLatin1String(SysMsgCols)));
    ins.BindInt(1, AMsg.SysMsgId);
    ins.BindText(2, AMsg.Title);
    ins.BindText(3, AMsg.Category);
    ins.BindText(4, AMsg.Content);
    ins.BindText(5, AMsg.Link);
    ins.BindText(6, AMsg.Attachfile);
    ins.BindInt(7, AMsg.NeedReaded);
    ins.BindInt(8, AMsg.NeedFeedback);
    ins.BindInt(9, AMsg.Readed);
    ins.BindInt(10, AMsg.Feedback);
    ins.BindText(11, AMsg.FeedbackText);
    ins.BindDouble(12, AMsg.SendTime);
    int rc = ins.Step();
    if (rc != SQLITE_DONE) return Release(Fail(rc, QStringLiteral("store a system message")));
    if (FDb.Changes() == 0) return Release(true); // known already: keeps its flags
    TSqliteStmt& up = Stmt(base + opCountUp, QStringLiteral("INSERT INTO convcount(kind,ckey,n,nextseq) VALUES(?1,0,1,1) "
                                                            "ON CONFLICT(kind,ckey) DO UPDATE SET n=n+1, nextseq=nextseq+1"));
    up.BindInt(1, kSys);
    if ((rc = up.Step()) != SQLITE_DONE) return Release(Fail(rc, QStringLiteral("count a system message")));
    return Release(true);
}

bool TUserDbStore::GetSysMsgs(int APageSize, int APageIndex, TUSERDBOBJ_SysMsgs& AOut, int& AMaxPage)
{
    if (APageSize <= 0) return true;
    AMaxPage = 1;
    if (!CheckOpen()) return false;
    bool ok = false;
    const int64_t n = Count(kSys, 0, ok);
    if (!ok) return false;
    // The system-message window lists the newest first and reads pages from 1
    // upwards until one is empty: page 1 is the newest, the last may be short.
    const int64_t pages = std::max<int64_t>(1, (n + APageSize - 1) / APageSize);
    AMaxPage = int(std::min<int64_t>(pages, INT32_MAX));
    const int64_t page = APageIndex == -1 ? pages : APageIndex;
    if (page < 1 || page > pages || n == 0) return true;
    const int64_t offset = (page - 1) * APageSize;
    TSqliteStmt& st = Stmt(kSys * SlotsPerKind + opPageDesc,
                           QStringLiteral("SELECT %1 FROM sysmsg ORDER BY sendtime DESC, rowid DESC LIMIT ?1 OFFSET ?2").arg(QLatin1String(SysMsgCols)));
    st.BindInt(1, std::min<int64_t>(APageSize, n - offset));
    st.BindInt(2, offset);
    const size_t first = AOut.size();
    int rc;
    while ((rc = st.Step()) == SQLITE_ROW) {
        TUSERDBOBJ_SysMsg m;
        m.SysMsgId = st.ColumnInt(0);
        m.Title = st.ColumnText(1);
        m.Category = st.ColumnText(2);
        m.Content = st.ColumnText(3);
        m.Link = st.ColumnText(4);
        m.Attachfile = st.ColumnText(5);
        m.NeedReaded = int16_t(st.ColumnInt(6));
        m.NeedFeedback = int16_t(st.ColumnInt(7));
        m.Readed = int16_t(st.ColumnInt(8));
        m.Feedback = int16_t(st.ColumnInt(9));
        m.FeedbackText = st.ColumnText(10);
        m.SendTime = st.ColumnDouble(11);
        AOut.push_back(std::move(m));
    }
    if (rc != SQLITE_DONE) {
        AOut.resize(first);
        return Fail(rc, QStringLiteral("read system messages"));
    }
    return true;
}

bool TUserDbStore::RemoveSysMsg(int64_t ASysMsgId)
{
    if (!CheckOpen()) return false;
    const int base = kSys * SlotsPerKind;
    if (!Savepoint()) return false;
    TSqliteStmt& del = Stmt(base + opRemoveId, QStringLiteral("DELETE FROM sysmsg WHERE id=?1"));
    del.BindInt(1, ASysMsgId);
    int rc = del.Step();
    if (rc != SQLITE_DONE) return Release(Fail(rc, QStringLiteral("remove a system message")));
    if (FDb.Changes() == 0) return Release(true);
    TSqliteStmt& dn = Stmt(base + opCountDown, QStringLiteral("UPDATE convcount SET n=n-1 WHERE kind=?1 AND ckey=0"));
    dn.BindInt(1, kSys);
    if ((rc = dn.Step()) != SQLITE_DONE) return Release(Fail(rc, QStringLiteral("remove a system message")));
    return Release(true);
}

bool TUserDbStore::ClearSysMsgs()
{
    if (!CheckOpen()) return false;
    if (!Savepoint()) return false;
    const int base = kSys * SlotsPerKind;
    int rc = Stmt(base + opClear, QStringLiteral("DELETE FROM sysmsg")).Step();
    if (rc != SQLITE_DONE) return Release(Fail(rc, QStringLiteral("clear system messages")));
    TSqliteStmt& cnt = Stmt(base + opClearCount, QStringLiteral("DELETE FROM convcount WHERE kind=?1"));
    cnt.BindInt(1, kSys);
    if ((rc = cnt.Step()) != SQLITE_DONE) return Release(Fail(rc, QStringLiteral("clear system messages")));
    return Release(true);
}

bool TUserDbStore::SysMsgReaded(int64_t ASysMsgId)
{
    if (!CheckOpen()) return false;
    TSqliteStmt& st = Stmt(kSys * SlotsPerKind + opSysReaded, QStringLiteral("UPDATE sysmsg SET readed=1 WHERE id=?1"));
    st.BindInt(1, ASysMsgId);
    const int rc = st.Step();
    return rc == SQLITE_DONE || Fail(rc, QStringLiteral("mark a system message read"));
}

bool TUserDbStore::SysMsgFeedback(int64_t ASysMsgId)
{
    if (!CheckOpen()) return false;
    TSqliteStmt& st = Stmt(kSys * SlotsPerKind + opSysFeedback, QStringLiteral("UPDATE sysmsg SET feedback=1 WHERE id=?1"));
    st.BindInt(1, ASysMsgId);
    const int rc = st.Step();
    return rc == SQLITE_DONE || Fail(rc, QStringLiteral("mark a system message answered"));
}

int TUserDbStore::GetUnReadSysMsgCount()
{
    if (!CheckOpen()) return -1;
    TSqliteStmt& st = Stmt(kSys * SlotsPerKind + opSysUnread, QStringLiteral("SELECT count(*) FROM sysmsg WHERE readed=0"));
    const int rc = st.Step();
    if (rc != SQLITE_ROW) return Fail(rc, QStringLiteral("count unread system messages")), -1;
    return int(st.ColumnInt(0));
}

int TUserDbStore::GetUnFeedbackSysMsgCount()
{
    if (!CheckOpen()) return -1;
    TSqliteStmt& st = Stmt(kSys * SlotsPerKind + opSysUnfeedback,
                           QStringLiteral("SELECT count(*) FROM sysmsg WHERE needfeedback<>0 AND feedback=0"));
    const int rc = st.Step();
    if (rc != SQLITE_ROW) return Fail(rc, QStringLiteral("count unanswered system messages")), -1;
    return int(st.ColumnInt(0));
}

bool TUserDbStore::BeginBatch()
{
    if (!CheckOpen()) return false;
    if (FInBatch) return Fail(SQLITE_MISUSE, QStringLiteral("a batch is running already"));
    const int rc = Stmt(gBegin, QStringLiteral("BEGIN IMMEDIATE")).Step();
    if (rc != SQLITE_DONE) return Fail(rc, QStringLiteral("begin a batch"));
    FInBatch = true;
    return true;
}

bool TUserDbStore::CommitBatch()
{
    if (!CheckOpen()) return false;
    if (!FInBatch) return Fail(SQLITE_MISUSE, QStringLiteral("no batch is running"));
    const int rc = Stmt(gCommit, QStringLiteral("COMMIT")).Step();
    if (rc == SQLITE_DONE) {
        FInBatch = false;
        return true;
    }
    Fail(rc, QStringLiteral("commit a batch"));
    RollbackBatch();
    return false;
}

void TUserDbStore::RollbackBatch()
{
    if (!FInBatch) return;
    FInBatch = false;
    if (FDb.IsOpen()) Stmt(gRollback, QStringLiteral("ROLLBACK")).Step();
}

} // namespace pelvox
