#pragma once
#include "platform/DateTime.h"
#include "platform/Text.h"
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <array>
#include <memory>
#include <mutex>
#include <vector>

namespace pelvox {

// ---- Paths ----------------------------------------------------------------
// The application root, ending with "/": the executable's folder, or its
// parent when that folder is named "Bin" (without regard to case).
QString GetAppRoot();
// The rule itself, for a given executable path.
QString AppRootFromExecutable(const QString& exePath);
// Tests and tools may point the root elsewhere; empty restores the default.
void SetAppRootOverride(const QString& root);

QString EncodeAppRootPath(const QString& AText);
QString DecodeAppRootPath(const QString& AText);
QString GetMyDocumentsPath();
QString GetTempFolder();
// Text after the last separator once trailing separators are removed.
QString ExtractLastPathName(const QString& APath);
// Stored paths written by a Windows copy use "\"; on disk we use "/".
QString ToLocalSeparators(const QString& path);

// ---- Files ----------------------------------------------------------------
struct TFileItem {
    QString FileName;
    int64_t FileSize = 0;
    bool IsDirectory = false;
};

int64_t GetFileSizeByName(const QString& AFileName);
// Appends the folder's files and sub-folders (depth first, a folder before its
// contents, dot-folders skipped) and adds file sizes to ATotal.
void ListFolderFiles(const QString& AFolder, std::vector<TFileItem>& AList, int64_t& ATotal);
// Linux has no sharing modes: a file counts as in use when it cannot be
// opened for reading and writing, or another process holds a lock on it.
bool IsFileInUse(const QString& APath);
bool IsExecutableFile(const QString& AFileName);

struct TFileVersionInfo {
    std::array<uint32_t, 13> FixedInfo{};
    QString CompanyName, FileDescription, FileVersion, InternalName, LegalCopyright, LegalTrademarks,
        OriginalFilename, ProductName, ProductVersion, Comments, LocalPort;
};
// The program's own version for the running executable; false for other files.
bool ReadFileVersionInfo(const QString& AFileName, TFileVersionInfo& AInfo);

// ---- Texts ----------------------------------------------------------------
QByteArray URLEncode(const QByteArray& ABytes);
QByteArray URLDecode(const QByteArray& ABytes);
QString GetDateTimeStr(TDateTime ADateTime);
// Clears ACount characters of the buffer, then copies AText cut to ACount.
void TextToWideCharBuffer(char16_t* ABuffer, int ACount, const QString& AText);

// ---- Times ----------------------------------------------------------------
// Minutes that turn local time into universal time at the given local time
// (the zone's rules for that date, not today's).
int GetTimeZoneBias(TDateTime ALocal, const QTimeZone& zone = QTimeZone::systemTimeZone());
TDateTime LocalTimeToUTC(TDateTime ADateTime, const QTimeZone& zone = QTimeZone::systemTimeZone());
TDateTime UTCToLocalTime(TDateTime ADateTime, const QTimeZone& zone = QTimeZone::systemTimeZone());

// ---- Command line -----------------------------------------------------------
// Looks up "-name" or "/name" (without regard to case) in the arguments.
bool GetCmdLineSwitch(const QString& AName, QString& AValue);
bool GetCmdLineSwitch(const QStringList& args, const QString& AName, QString& AValue);
// The arguments the program was started with (without the program name).
void SetCommandLineArguments(const QStringList& args);

// ---- System ---------------------------------------------------------------
void TrimWorkingSet();
void PlayWaveFile(const QString& AFileName);

// ---- Lists ----------------------------------------------------------------
// An owning list with its own lock; users bracket every access with Lock/UnLock.
template <typename T>
class TThreadObjectList {
public:
    void Lock() { FLock.lock(); }
    void UnLock() { FLock.unlock(); }
    void Add(std::unique_ptr<T> item) { FItems.push_back(std::move(item)); }
    void Delete(size_t index) { FItems.erase(FItems.begin() + std::ptrdiff_t(index)); }
    bool Remove(const T* item)
    {
        for (auto it = FItems.begin(); it != FItems.end(); ++it)
            if (it->get() == item) {
                FItems.erase(it);
                return true;
            }
        return false;
    }
    std::unique_ptr<T> Extract(size_t index)
    {
        auto p = std::move(FItems[index]);
        FItems.erase(FItems.begin() + std::ptrdiff_t(index));
        return p;
    }
    void Clear() { FItems.clear(); }
    size_t Count() const { return FItems.size(); }
    T* Items(size_t index) const { return FItems[index].get(); }

private:
    std::recursive_mutex FLock;
    std::vector<std::unique_ptr<T>> FItems;
};

} // namespace pelvox
