#pragma once
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace pelvox {

// Thin RAII handles over SQLite. Errors are reported by result codes, never
// thrown, so a failing write can be told apart from a crash.
class TSqliteStmt {
public:
    TSqliteStmt() = default;
    TSqliteStmt(sqlite3* db, const char* sql);
    ~TSqliteStmt();
    TSqliteStmt(TSqliteStmt&& other) noexcept;
    TSqliteStmt& operator=(TSqliteStmt&& other) noexcept;
    TSqliteStmt(const TSqliteStmt&) = delete;
    TSqliteStmt& operator=(const TSqliteStmt&) = delete;

    bool Valid() const { return FStmt != nullptr; }
    int PrepareResult() const { return FPrepareRc; }

    // Bind positions count from 1.
    void BindInt(int pos, int64_t v);
    void BindDouble(int pos, double v);
    void BindText(int pos, const QString& v); // UTF-16, exact code units
    void BindBlob(int pos, const QByteArray& v);

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step();
    // Resets and clears bindings so the statement can run again.
    void Reset();

    int64_t ColumnInt(int col) const;
    double ColumnDouble(int col) const;
    QString ColumnText(int col) const;
    QByteArray ColumnBlob(int col) const;
    bool ColumnIsBlob(int col) const;

private:
    sqlite3_stmt* FStmt = nullptr;
    int FPrepareRc = 0;
};

class TSqliteDb {
public:
    TSqliteDb() = default;
    ~TSqliteDb();
    TSqliteDb(const TSqliteDb&) = delete;
    TSqliteDb& operator=(const TSqliteDb&) = delete;

    // Opens (creating when missing) the file; returns the SQLite result code.
    int Open(const QString& fileName);
    void Close();
    bool IsOpen() const { return FDb != nullptr; }
    sqlite3* Handle() const { return FDb; }

    // Runs one or more statements without results; returns the result code.
    int Exec(const char* sql);
    // The first column of the first row of a query, or def when there is none.
    int64_t QueryInt(const char* sql, int64_t def = 0);
    TSqliteStmt Prepare(const char* sql) const { return TSqliteStmt(FDb, sql); }
    int64_t Changes() const;
    QString LastError() const;

private:
    sqlite3* FDb = nullptr;
};

// Runs a transaction; rolls back unless committed.
class TSqliteTransaction {
public:
    explicit TSqliteTransaction(TSqliteDb& db);
    ~TSqliteTransaction();
    TSqliteTransaction(const TSqliteTransaction&) = delete;
    TSqliteTransaction& operator=(const TSqliteTransaction&) = delete;
    bool Begun() const { return FBegun; }
    int Commit();

private:
    TSqliteDb& FDb;
    bool FBegun = false;
};

} // namespace pelvox
