#pragma once
#include <QString>

namespace pelvox {

// Build defaults: assigned once by InitOEMDefaults before anything else runs,
// only read afterwards.
struct TOEMDefaults {
    QString OEMServerVersion;
    QString OEMNetworkName;
    QString OEMServerAddress;
    int OEMServerPort = 5801;
    int OEMLocalPort = 0;
    QString OEMHomePageURL;
    QString OEMBBSURL;
    QString OEMBugReportURL;
    QString OEMRegisterURL;
    QString OEMForgetPWDURL;
    QString OEMChangePWDURL;
    bool OEMShowHomePage = false;
    bool OEMShowBBS = false;
    bool OEMShowBugReport = false;
    bool OEMShowSoftUpdate = false;
    bool OEMShowAbout = true;
    bool OEMShowRegisterLinks = false;
    bool OEMShowStartMenu = false;
    bool OEMUseWebRegister = false;
    bool OEMUseWebChangePWD = false;
    bool OEMEnableSMS = false;
};

// The process-wide build defaults (the compiled-in values until changed by start-up).
const TOEMDefaults& OEM();
// Start-up code (and tests) assign them before any thread starts.
TOEMDefaults& MutableOEM();
// The compiled-in values.
TOEMDefaults CompiledOEMDefaults();

} // namespace pelvox
