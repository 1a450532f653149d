#pragma once
#include <QString>
#include <functional>

namespace pelvox {

// The debugger output channel: one line to stderr. Nothing goes to disk.
void DebugOutput(const QString& line);

// Tests capture the lines; pass an empty function to restore stderr.
using DebugOutputHook = std::function<void(const QString&)>;
void SetDebugOutputHook(DebugOutputHook hook);

// Captures every debug line while alive (restores the previous hook after).
class DebugOutputCapture {
public:
    DebugOutputCapture();
    ~DebugOutputCapture();
    DebugOutputCapture(const DebugOutputCapture&) = delete;
    DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;
    QStringList Lines() const;
    bool Contains(const QString& fragment) const;

private:
    struct State;
    std::shared_ptr<State> FState;
    DebugOutputHook FPrevious;
};

} // namespace pelvox
