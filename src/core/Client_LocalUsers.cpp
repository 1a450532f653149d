#include "core/Client_LocalUsers.h"
#include "core/AES.h"
#include "core/BitDocument.h"
#include "core/Client_Base.h"
#include "core/Client_CurrentUser.h"
#include "core/Client_Login.h"
#include "core/XmlFile.h"
#include "platform/DebugOutput.h"
#include "platform/Text.h"
#include <QDir>
#include <QFileInfo>

namespace pelvox {

const QString TLocalUserManager::AESKey_Password = QStringLiteral("6C1E0A7F93B25D48E4F1A0C37D92B65E");

namespace {

QString WithTrailingSlash(QString APath)
{
    if (!APath.isEmpty() && !APath.endsWith(QLatin1Char('/'))) APath += QLatin1Char('/');
    return APath;
}

// A password element as stored; a text that does not decipher counts as empty.
QString DecipherPassword(const QString& AHex)
{
    if (AHex.isEmpty()) return {};
    try {
        return DecryptHexToText(AHex, TLocalUserManager::AESKey_Password);
    } catch (const std::exception&) {
        return {};
    }
}

// The account in one "Item"; nothing when an element is missing or it has no root.
std::unique_ptr<TLocalUser> ReadItem(const pugi::xml_node& AItem)
{
    static const char* const names[] = {"LoginName", "Password", "LoginStatus", "RememberPWD", "AutoLogin", "UserId",
                                        "UserName",  "NickName", "ActualName",  "FaceFile",    "UserRoot"};
    QString v[std::size(names)];
    for (size_t i = 0; i < std::size(names); ++i) {
        const pugi::xml_node e = AItem.child(names[i]);
        if (!e) return nullptr;
        v[i] = Trim(XmlText(e));
    }
    auto u = std::make_unique<TLocalUser>();
    u->LoginName = v[0];
    u->Password = DecipherPassword(v[1]);
    u->LoginStatus = StrToLoginStatus(v[2]);
    u->RememberPWD = SameText(v[3], u"True");
    u->AutoLogin = SameText(v[4], u"True");
    u->UserId = StrToIntDef(v[5], 0);
    u->UserName = v[6];
    u->NickName = v[7];
    u->ActualName = v[8];
    u->FaceFile = v[9];
    u->UserRoot = WithTrailingSlash(ToLocalSeparators(DecodeAppRootPath(v[10])));
    // A root outside the application folder (a file copied from elsewhere)
    // would let the settings point our writes anywhere: use the default.
    if (!u->UserRoot.isEmpty() && !IsInsideAppRoot(u->UserRoot)) u->UserRoot.clear();
    if (u->UserRoot.isEmpty() && u->UserId != 0) u->UserRoot = TCurrentUser::DefaultUserRoot(u->UserId);
    if (u->UserRoot.isEmpty()) return nullptr;
    return u;
}

} // namespace

bool IsInsideAppRoot(const QString& APath)
{
    const QString root = QDir::cleanPath(GetAppRoot());
    const QString path = QDir::cleanPath(QFileInfo(APath).absoluteFilePath());
    return path.startsWith(root + QLatin1Char('/'));
}

QString TLocalUserManager::FileName() { return GetAppRoot() + QStringLiteral("Config/LocalUsers.xml"); }

void TLocalUserManager::LoadLocalUsers()
{
    FLocalUsers.clear();
    pugi::xml_document doc;
    if (XmlFile::Load(FileName(), doc) != XmlFile::TLoadResult::Loaded) return;
    for (const pugi::xml_node& item : doc.document_element().children()) {
        if (item.type() != pugi::node_element) continue;
        if (FLocalUsers.size() >= MaxAccounts) break;
        if (auto u = ReadItem(item)) FLocalUsers.push_back(std::move(u));
    }
}

void TLocalUserManager::SaveLocalUsers()
{
    pugi::xml_document doc;
    pugi::xml_node root = ResetDocument(doc, "LocalUsers");
    for (const auto& u : FLocalUsers) {
        pugi::xml_node item = root.append_child("Item");
        AppendTextElement(item, "LoginName", u->LoginName);
        AppendTextElement(item, "Password",
                          u->RememberPWD ? EncryptTextToHex(u->Password, AESKey_Password) : QString());
        AppendTextElement(item, "LoginStatus", LoginStatusToStr(u->LoginStatus));
        AppendTextElement(item, "RememberPWD", BoolToText(u->RememberPWD));
        AppendTextElement(item, "AutoLogin", BoolToText(u->AutoLogin));
        AppendTextElement(item, "UserId", QString::number(u->UserId));
        AppendTextElement(item, "UserName", u->UserName);
        AppendTextElement(item, "NickName", u->NickName);
        AppendTextElement(item, "ActualName", u->ActualName);
        AppendTextElement(item, "FaceFile", u->FaceFile);
        AppendTextElement(item, "UserRoot", EncodeAppRootPath(u->UserRoot));
    }
    QDir().mkpath(GetAppRoot() + QStringLiteral("Config"));
    XmlFile::Save(FileName(), doc, /*AOwnerOnly=*/true);
}

TLocalUser* TLocalUserManager::FindLocalUser(int32_t AUserId) const
{
    for (const auto& u : FLocalUsers)
        if (u->UserId == AUserId) return u.get();
    return nullptr;
}

void TLocalUserManager::DeleteLocalUser(int32_t AUserId)
{
    for (auto it = FLocalUsers.begin(); it != FLocalUsers.end(); ++it)
        if ((*it)->UserId == AUserId) {
            FLocalUsers.erase(it);
            SaveLocalUsers();
            return;
        }
}

void TLocalUserManager::InitWhenLoginSuccess(const TBitDocument& ADoc, const TLoginParams& AParams,
                                             TCurrentUser& ACurrentUser)
{
    const int32_t userId = ADoc.ReadInt32(u"userdata_userid");
    std::unique_ptr<TLocalUser> u;
    for (auto it = FLocalUsers.begin(); it != FLocalUsers.end(); ++it)
        if ((*it)->UserId == userId) {
            u = std::move(*it);
            FLocalUsers.erase(it);
            break;
        }
    if (u && IsInsideAppRoot(u->UserRoot))
        ACurrentUser.SetUserRoot(u->UserRoot);
    else if (u)
        u->UserRoot = ACurrentUser.GetUserRoot();
    else {
        u = std::make_unique<TLocalUser>();
        u->UserRoot = ACurrentUser.GetUserRoot();
    }
    u->LoginName = AParams.LoginName();
    u->Password = AParams.Password();
    u->LoginStatus = AParams.LoginStatus();
    u->RememberPWD = AParams.RememberPWD();
    u->AutoLogin = AParams.AutoLogin();
    u->UserId = userId;
    u->UserName = ADoc.ReadString(u"userdata_username");
    u->NickName = ADoc.ReadString(u"userdata_nickname");
    u->ActualName = ADoc.ReadString(u"userdata_actualname");
    u->FaceFile = ADoc.ReadString(u"userdata_facefile");
    FLocalUsers.insert(FLocalUsers.begin(), std::move(u));
    SaveLocalUsers();
}

std::optional<bool> TLocalUserManager::FindAutoLogin(uint32_t AUserId) const
{
    if (const TLocalUser* u = FindLocalUser(int32_t(AUserId))) return u->AutoLogin;
    return std::nullopt;
}

void TLocalUserManager::SetAutoLoginAndSave(uint32_t AUserId, bool AAutoLogin)
{
    if (TLocalUser* u = FindLocalUser(int32_t(AUserId))) {
        u->AutoLogin = AAutoLogin;
        SaveLocalUsers();
    }
}

} // namespace pelvox
