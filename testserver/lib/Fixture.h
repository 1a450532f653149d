#pragma once
#include <QString>

namespace pelvox::testserver {

// The server's directory (departments, users, contacts, groups, rooms ...),
// read from a fixture file. Empty until a fixture is loaded.
class TFixture {
public:
    bool Load(const QString& file, QString* error = nullptr);
    QString File() const { return FFile; }
    bool Loaded() const { return !FFile.isEmpty(); }

private:
    QString FFile;
};

} // namespace pelvox::testserver
