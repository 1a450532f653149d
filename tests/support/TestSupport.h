#pragma once
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <functional>

namespace pelvox::test {

// Runs the Qt event loop (and the UI thread's synchronous calls) until pred
// holds or the timeout passes; returns pred().
bool RunLoopUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Runs the loop for a while (for checks that something does not happen).
void RunLoopFor(std::chrono::milliseconds duration);

// A scratch application root with the usual folders; points GetAppRoot at it
// while alive.
class TempAppRoot {
public:
    TempAppRoot();
    ~TempAppRoot();
    QString Path() const; // ends with "/"
    QString File(const QString& relative) const { return Path() + relative; }

private:
    QTemporaryDir FDir;
};

} // namespace pelvox::test
