#pragma once
#include <cstdint>

// Enumerations shared by the settings and the directory data; stored in
// settings files and sent on the wire as their ordinal numbers.
namespace pelvox {

enum TLoginStatus : uint8_t { lsOffline = 0, lsOnline = 1, lsLeave = 2, lsBusy = 3, lsQuiet = 4, lsHide = 5 };
enum TUserRootType : uint8_t { ptInstallPath = 0, ptMyDocuments = 1, ptCustomUserRoot = 2 };
enum TSoftUpdateType : uint8_t { utNone = 0, utAutoInstall = 1, utAutoDownload = 2, utQueryUpdate = 3 };
enum TSendMsgKey : uint8_t { skEnter = 0, skCtrlEnter = 1 };
enum TFileTransSafeLevel : uint8_t { slLow = 0, slMedium = 1, slHigh = 2 };
enum TVideoQuality : uint8_t { vqLow = 0, vqMedium = 1, vqHigh = 2 };

} // namespace pelvox
