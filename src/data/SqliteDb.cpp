#include "data/SqliteDb.h"
#include <sqlite3.h>
#include <utility>

namespace pelvox {

TSqliteStmt::TSqliteStmt(sqlite3* db, const char* sql)
{
    if (!db) {
        FPrepareRc = SQLITE_MISUSE;
        return;
    }
    FPrepareRc = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &FStmt, nullptr);
    if (FPrepareRc != SQLITE_OK) {
        sqlite3_finalize(FStmt);
        FStmt = nullptr;
    }
}

TSqliteStmt::~TSqliteStmt() { sqlite3_finalize(FStmt); }

TSqliteStmt::TSqliteStmt(TSqliteStmt&& other) noexcept
    : FStmt(std::exchange(other.FStmt, nullptr)), FPrepareRc(other.FPrepareRc)
{
}

TSqliteStmt& TSqliteStmt::operator=(TSqliteStmt&& other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(FStmt);
        FStmt = std::exchange(other.FStmt, nullptr);
        FPrepareRc = other.FPrepareRc;
    }
    return *this;
}

void TSqliteStmt::BindInt(int pos, int64_t v) { sqlite3_bind_int64(FStmt, pos, v); }
void TSqliteStmt::BindDouble(int pos, double v) { sqlite3_bind_double(FStmt, pos, v); }

void TSqliteStmt::BindText(int pos, const QString& v)
{
    // Empty texts are bound as "" (not NULL) so every read gives a text back.
    static const char16_t empty = 0;
    const void* data = v.isEmpty() ? static_cast<const void*>(&empty) : static_cast<const void*>(v.utf16());
    sqlite3_bind_text16(FStmt, pos, data, int(v.size() * 2), SQLITE_TRANSIENT);
}

void TSqliteStmt::BindBlob(int pos, const QByteArray& v)
{
    sqlite3_bind_blob(FStmt, pos, v.constData(), int(v.size()), SQLITE_TRANSIENT);
}

int TSqliteStmt::Step() { return FStmt ? sqlite3_step(FStmt) : SQLITE_MISUSE; }

void TSqliteStmt::Reset()
{
    if (!FStmt) return;
    sqlite3_reset(FStmt);
    sqlite3_clear_bindings(FStmt);
}

int64_t TSqliteStmt::ColumnInt(int col) const { return sqlite3_column_int64(FStmt, col); }
double TSqliteStmt::ColumnDouble(int col) const { return sqlite3_column_double(FStmt, col); }

QString TSqliteStmt::ColumnText(int col) const
{
    const void* p = sqlite3_column_text16(FStmt, col);
    const int bytes = sqlite3_column_bytes16(FStmt, col);
    if (!p || bytes <= 0) return QString();
    return QString(reinterpret_cast<const QChar*>(p), bytes / 2);
}

QByteArray TSqliteStmt::ColumnBlob(int col) const
{
    const void* p = sqlite3_column_blob(FStmt, col);
    const int bytes = sqlite3_column_bytes(FStmt, col);
    if (!p || bytes <= 0) return QByteArray();
    return QByteArray(static_cast<const char*>(p), bytes);
}

bool TSqliteStmt::ColumnIsBlob(int col) const { return sqlite3_column_type(FStmt, col) == SQLITE_BLOB; }

TSqliteDb::~TSqliteDb() { Close(); }

int TSqliteDb::Open(const QString& fileName)
{
    Close();
    const QByteArray name = fileName.toUtf8();
    const int rc = sqlite3_open_v2(name.constData(), &FDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) Close();
    return rc;
}

void TSqliteDb::Close()
{
    if (!FDb) return;
    sqlite3_close_v2(FDb);
    FDb = nullptr;
}

int TSqliteDb::Exec(const char* sql) { return FDb ? sqlite3_exec(FDb, sql, nullptr, nullptr, nullptr) : SQLITE_MISUSE; }

int64_t TSqliteDb::QueryInt(const char* sql, int64_t def)
{
    TSqliteStmt st(FDb, sql);
    return st.Step() == SQLITE_ROW ? st.ColumnInt(0) : def;
}

int64_t TSqliteDb::Changes() const { return FDb ? sqlite3_changes64(FDb) : 0; }

QString TSqliteDb::LastError() const
{
    return FDb ? QString::fromUtf8(sqlite3_errmsg(FDb)) : QStringLiteral("database not open");
}

TSqliteTransaction::TSqliteTransaction(TSqliteDb& db) : FDb(db) { FBegun = FDb.Exec("BEGIN IMMEDIATE") == SQLITE_OK; }

TSqliteTransaction::~TSqliteTransaction()
{
    if (FBegun) FDb.Exec("ROLLBACK");
}

int TSqliteTransaction::Commit()
{
    if (!FBegun) return SQLITE_MISUSE;
    const int rc = FDb.Exec("COMMIT");
    if (rc == SQLITE_OK) FBegun = false;
    return rc;
}

} // namespace pelvox
