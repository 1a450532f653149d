#include "core/Client_OEM.h"
#include "BuildConfig.h"

namespace pelvox {

TOEMDefaults CompiledOEMDefaults()
{
    TOEMDefaults d;
    const QString home = QStringLiteral(PELVOX_HOMEPAGE_URL);
    const QString web = QStringLiteral("http://") + QStringLiteral(PELVOX_WEB_HOST) + QStringLiteral(":5880");
    d.OEMServerVersion = QStringLiteral("Pelvox Server 2.0.2.2");
    d.OEMNetworkName = QStringLiteral("默认");
    d.OEMServerAddress = QStringLiteral(PELVOX_SERVER_ADDRESS);
    d.OEMHomePageURL = home;
    d.OEMBBSURL = home;
    d.OEMBugReportURL = home;
    d.OEMRegisterURL = web + QStringLiteral("/usercenter/register_embed.php");
    d.OEMForgetPWDURL = web + QStringLiteral("/usercenter/forgetpwd_embed.php");
    d.OEMChangePWDURL = home;
    return d;
}

TOEMDefaults& MutableOEM()
{
    static TOEMDefaults defaults = CompiledOEMDefaults();
    return defaults;
}

const TOEMDefaults& OEM() { return MutableOEM(); }

} // namespace pelvox
