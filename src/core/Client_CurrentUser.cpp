#include "core/Client_CurrentUser.h"
#include "core/BitDocument.h"
#include "core/Client_Base.h"
#include "core/Client_BugReport.h"
#include "core/Client_GlobalClient.h"
#include "platform/SafeFileName.h"
#include <QDir>
#include <cmath>
#include <functional>

namespace pelvox {

// How one node of the login answer is read: the value kind decides which
// nodes count as readable, the setter stores it.
struct TCurrentUser::TAnswerField {
    enum TKind { Text, Integer, UTCTime };
    const char16_t* Name;
    TKind Kind;
    std::function<void(TCurrentUser&, const TBitNode&)> Store;
};

namespace {
using F = std::function<void(TCurrentUser&, const TBitNode&)>;
template <class Setter>
F Str(Setter s) { return [s](TCurrentUser& u, const TBitNode& n) { (u.*s)(n.ToString()); }; }
template <class Setter>
F I32(Setter s) { return [s](TCurrentUser& u, const TBitNode& n) { (u.*s)(n.ToInt32()); }; }
template <class Setter>
F I16(Setter s) { return [s](TCurrentUser& u, const TBitNode& n) { (u.*s)(int32_t(n.ToInt16())); }; }
template <class Setter>
F Flag16(Setter s) { return [s](TCurrentUser& u, const TBitNode& n) { (u.*s)(n.ToInt16() == 1); }; }
template <class Setter>
F Time(Setter s) { return [s](TCurrentUser& u, const TBitNode& n) { (u.*s)(UTCToLocalTime(n.ToFloat64())); }; }
} // namespace

const std::vector<TCurrentUser::TAnswerField>& TCurrentUser::AnswerFields()
{
    using C = TCurrentUser;
    constexpr auto T = TAnswerField::Text;
    constexpr auto N = TAnswerField::Integer;
    constexpr auto D = TAnswerField::UTCTime;
    static const std::vector<TAnswerField> fields = {
        {u"userdata_userid", N, I32(&C::SetUserId)},
        {u"userdata_username", T, Str(&C::SetUserName)},
        {u"userdata_usertype", N, I16(&C::SetUserType)},
        {u"userdata_canfound", N, Flag16(&C::SetCanFound)},
        {u"userdata_nickname", T, Str(&C::SetNickName)},
        {u"userdata_signature", T, Str(&C::SetSignature)},
        {u"userdata_actualname", T, Str(&C::SetActualName)},
        {u"userdata_sex", N, [](C& u, const TBitNode& n) { u.SetSex(SexFromWire(n.ToInt16())); }},
        {u"userdata_age", N, I16(&C::SetAge)},
        {u"userdata_birth_year", N, I16(&C::SetBirth_Year)},
        {u"userdata_birth_month", N, I16(&C::SetBirth_Month)},
        {u"userdata_birth_day", N, I16(&C::SetBirth_Day)},
        {u"userdata_country", N, I16(&C::SetCountry)},
        {u"userdata_province", N, I16(&C::SetProvince)},
        {u"userdata_city", N, I16(&C::SetCity)},
        {u"userdata_area", N, I16(&C::SetArea)},
        {u"userdata_address", T, Str(&C::SetAddress)},
        {u"userdata_telephone", T, Str(&C::SetTelephone)},
        {u"userdata_telephone_short", T, Str(&C::SetTelephone_Short)},
        {u"userdata_telephone2", T, Str(&C::SetTelephone2)},
        {u"userdata_telephone2_short", T, Str(&C::SetTelephone2_Short)},
        {u"userdata_mobile", T, Str(&C::SetMobile)},
        {u"userdata_mobile_short", T, Str(&C::SetMobile_Short)},
        {u"userdata_mobile2", T, Str(&C::SetMobile2)},
        {u"userdata_mobile2_short", T, Str(&C::SetMobile2_Short)},
        {u"userdata_fax", T, Str(&C::SetFax)},
        {u"userdata_qq", T, Str(&C::SetQQ)},
        {u"userdata_weixin", T, Str(&C::SetWeixin)},
        {u"userdata_weibo", T, Str(&C::SetWeibo)},
        {u"userdata_email", T, Str(&C::SetEmail)},
        {u"userdata_roomname", T, Str(&C::SetRoomName)},
        {u"userdata_roomnumber", T, Str(&C::SetRoomNumber)},
        {u"userdata_idnumber", T, Str(&C::SetIdNumber)},
        {u"userdata_carnumber", T, Str(&C::SetCarNumber)},
        {u"userdata_homepage", T, Str(&C::SetHomepage)},
        {u"userdata_departid", N, I32(&C::SetDepartId)},
        {u"userdata_departname", T, Str(&C::SetDepartName)},
        {u"userdata_jobtitle", T, Str(&C::SetJobTitle)},
        {u"userdata_jobnumber", T, Str(&C::SetJobNumber)},
        {u"userdata_introduction", T, Str(&C::SetIntroduction)},
        {u"userdata_facefile", T, Str(&C::SetFaceFile)},
        {u"userdata_photofile", T, Str(&C::SetPhotoFile)},
        {u"userdata_loginstatus", N, [](C& u, const TBitNode& n) { u.SetLoginStatus(TLoginStatus(n.ToUInt8())); }},
        {u"userdata_logintimes", N, I32(&C::SetLoginTimes)},
        {u"userdata_lastlogintime", D, Time(&C::SetLastLoginTime)},
        {u"userdata_clientipaddr", T, Str(&C::SetClientIPAddr)},
        {u"userdata_clientlocation", T, Str(&C::SetClientLocation)},
        {u"userdata_lastclientipaddr", T, Str(&C::SetLastClientIPAddr)},
        {u"userdata_lastclientlocation", T, Str(&C::SetLastClientLocation)},
        {u"userdata_token", T, Str(&C::SetToken)},
        {u"userdata_onlyfindmebyid", N, Flag16(&C::SetOnlyFindMeById)},
        {u"userdata_joinsetting", N, [](C& u, const TBitNode& n) { u.SetJoinSetting(TJoinMeSetting(n.ToUInt8())); }},
        {u"userdata_joinquestion", T, Str(&C::SetJoinQuestion)},
        {u"userdata_joinanswer", T, Str(&C::SetJoinAnswer)},
        {u"userdata_linkdepartid", N, I32(&C::SetLinkDepartId)},
        {u"userdata_smstotal", N, I32(&C::SetSMSTotal)},
        {u"userdata_smsdaystart", D, Time(&C::SetSMSDayStart)},
        {u"userdata_smsdaylimit", N, I32(&C::SetSMSDayLimit)},
        {u"userdata_smsdaysended", N, I32(&C::SetSMSDaySended)},
        {u"userdata_smstotalsended", N, I32(&C::SetSMSTotalSended)},
        {u"userdata_modifytime", D, Time(&C::SetModifyTime)},
        {u"userdata_createtime", D, Time(&C::SetCreateTime)},
    };
    return fields;
}

TCurrentUser::TCurrentUser(TGlobalClient* AClient) : FClient(AClient) {}

QString TCurrentUser::DefaultUserRoot(int32_t AUserId)
{
    return GetAppRoot() + QStringLiteral("Users/") + QString::number(AUserId) + QLatin1Char('/');
}

void TCurrentUser::InitWhenLoginSuccess(const TBitDocument& ADoc)
{
    for (const TAnswerField& f : AnswerFields()) {
        const TBitNode* n = ADoc.Root()->ChildNodes().FindNode(QStringView(f.Name));
        bool readable = n != nullptr;
        if (readable) {
            switch (f.Kind) {
            case TAnswerField::Text: readable = n->NodeType() == bntString; break;
            case TAnswerField::Integer: readable = n->IsFixedWidth(); break;
            case TAnswerField::UTCTime: readable = n->IsFixedWidth() && std::isfinite(n->ToFloat64()); break;
            }
        }
        if (!readable) {
            TQVBugReport::WriteError(QStringLiteral("Missing or unreadable node ") + QString::fromUtf16(f.Name),
                                     QStringLiteral("VUDezero.dll"), QStringLiteral("Client_GlobalClient"),
                                     QStringLiteral("TCurrentUser.InitWhenLoginSuccess"), QStringLiteral("1"));
            break;
        }
        f.Store(*this, *n);
    }
    FUserRoot = DefaultUserRoot(FUserId);
}

void TCurrentUser::CreateUserFolders()
{
    if (FUserRoot.isEmpty()) return;
    for (const char* sub : {"Received Files", "ChatFiles", "ShareFiles"}) QDir().mkpath(FUserRoot + QLatin1String(sub));
}

void TCurrentUser::ChangeLoginStatus(TLoginStatus AStatus)
{
    if (AStatus == lsOffline) {
        FLoginStatus = lsOffline;
        RaiseEvent(QStringLiteral("Client:OnChangeLoginStatus"), 0);
        FClient->Logout();
    } else if (FClient->Logined()) {
        FLoginStatus = AStatus;
        RaiseEvent(QStringLiteral("Client:OnChangeLoginStatus"), 0);
        TBitDocument doc(QStringLiteral("Users.ChangeLoginStatus"));
        doc.Root()->AddInt16Node(QStringLiteral("loginstatus"), int16_t(AStatus));
        FClient->SendMainCmdData(doc, false);
    } else {
        FClient->LoginParams().SetLoginStatus(AStatus);
        FClient->Login();
    }
}

QString TCurrentUser::GetShowName(bool AShowUserId) const
{
    return AShowUserId ? FNickName + QLatin1Char('(') + FUserName + QLatin1Char(')') : FNickName;
}

// The names come from the server: a name that would leave the folder gives "".
QString TCurrentUser::GetLocalFaceFile() const { return SafeJoin(GetAppRoot() + QStringLiteral("Temp/Faces"), FFaceFile); }
QString TCurrentUser::GetLocalPhotoFile() const { return SafeJoin(GetAppRoot() + QStringLiteral("Temp/Photos"), FPhotoFile); }

} // namespace pelvox
