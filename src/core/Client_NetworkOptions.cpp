#include "core/Client_NetworkOptions.h"
#include "core/Client_Base.h"
#include "core/Client_OEM.h"
#include "core/Client_P2PLogin.h"
#include <QDir>
#include <chrono>

namespace pelvox {

QString NormaliseFolderPath(const QString& AValue)
{
    QString v = Trim(AValue);
    if (!v.isEmpty() && !v.endsWith(u'/') && !v.endsWith(u'\\')) v += u'/';
    return v;
}

// ---- TNetworkItem -------------------------------------------------------------

void TNetworkItem::Assign(const TNetworkItem& ASource)
{
    NetworkName = ASource.NetworkName;
    FAddress = ASource.FAddress;
    Port = ASource.Port;
    LocalPort = ASource.LocalPort;
    ProxyType = ASource.ProxyType;
    ProxyAddress = ASource.ProxyAddress;
    ProxyPort = ASource.ProxyPort;
    Username = ASource.Username;
    Password = ASource.Password;
    Domain = ASource.Domain;
}

void TNetworkItem::SetAddress(const QString& AValue) { FAddress = Trim(AValue); }

const std::vector<TSettingsField<TNetworkItem>>& TNetworkItem::Fields()
{
    using I = TNetworkItem;
    // Ports outside 0..65535 are not ports: they read as 0.
    static const std::vector<TSettingsField<I>> fields{
        TextField("NetworkName", &I::NetworkName, false),
        AccessorField<I>("Address", [](const I& i) { return i.FAddress; }, [](I& i, const QString& t) { i.SetAddress(t); }),
        IntField("Port", &I::Port, 0, false, KeepOrDefault(0, 65535)),
        IntField("LocalPort", &I::LocalPort, 0, false, KeepOrDefault(0, 65535)),
        IntField("ProxyType", &I::ProxyType, 0, false, MapNumber(0, [](int32_t n) { return n; })),
        TextField("ProxyAddress", &I::ProxyAddress, false),
        IntField("ProxyPort", &I::ProxyPort, 0, false, KeepOrDefault(0, 65535)),
        TextField("Username", &I::Username, false),
        TextField("Password", &I::Password, false),
        TextField("Domain", &I::Domain, false),
    };
    return fields;
}

void TNetworkItem::TestConnection(int AP2PServicePort)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    std::unique_ptr<IP2PLoginClient> client = CreateP2PLoginClient();
    client->SetServerHost(FAddress);
    client->SetServerPort(AP2PServicePort);
    client->Login(2000);
    // A profile that does not answer is unreachable now, whatever it was before.
    FNetworkDelay = client->Logined()
                        ? int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count())
                        : -1;
}

// ---- TNetworkOptions ----------------------------------------------------------

TNetworkOptions::TNetworkOptions(TSystemConfig* AOwner)
    : FSystemConfig(AOwner), FCurrentItem(std::make_unique<TNetworkItem>())
{
    LoadData();
}

QString TNetworkOptions::FileName() { return GetAppRoot() + QStringLiteral("Config/Network.xml"); }

std::unique_ptr<TNetworkItem> TNetworkOptions::CreateDefaultItem()
{
    auto item = std::make_unique<TNetworkItem>();
    item->NetworkName = QStringLiteral("默认");
    item->SetAddress(OEM().OEMServerAddress);
    item->Port = 5801;
    return item;
}

void TNetworkOptions::LoadData()
{
    FItems.clear();
    pugi::xml_document doc;
    if (XmlFile::Load(FileName(), doc) == XmlFile::TLoadResult::Loaded) {
        for (const pugi::xml_node node : doc.document_element().children()) {
            if (node.type() != pugi::node_element || !SameText(XmlName(node), u"Item")) continue;
            if (FItems.size() >= MaxItems) break;
            auto item = std::make_unique<TNetworkItem>();
            ReadFields(TNetworkItem::Fields(), *item, node);
            FItems.push_back(std::move(item));
        }
    }
    if (FItems.empty()) FItems.push_back(CreateDefaultItem());
}

void TNetworkOptions::SaveData() const
{
    pugi::xml_document doc;
    pugi::xml_node root = ResetDocument(doc, "Network");
    for (const auto& item : FItems) WriteFields(TNetworkItem::Fields(), *item, root.append_child("Item"));
    QDir().mkpath(GetAppRoot() + QStringLiteral("Config"));
    XmlFile::Save(FileName(), doc, true);
}

int TNetworkOptions::BestItemIndex() const
{
    int best = -1;
    for (size_t i = 0; i < FItems.size(); ++i) {
        const int d = FItems[i]->NetworkDelay();
        if (d != -1 && d < 999999 && (best < 0 || d < FItems[size_t(best)]->NetworkDelay())) best = int(i);
    }
    if (best < 0 && !FItems.empty()) best = 0;
    return best;
}

// ---- TMultimediaOptions -------------------------------------------------------

QString TMultimediaOptions::FileName() { return GetAppRoot() + QStringLiteral("Config/Multimedia.xml"); }

void TMultimediaOptions::SetPictureSavePath(const QString& AValue) { FPictureSavePath = NormaliseFolderPath(AValue); }

const std::vector<TSettingsField<TMultimediaOptions>>& TMultimediaOptions::Fields()
{
    using M = TMultimediaOptions;
    static const std::vector<TSettingsField<M>> fields{
        IntField("MicDeviceID", &M::MicDeviceID, 0, true, KeepOrDefault(INT32_MIN, INT32_MAX)),
        TextField("MicDeviceName", &M::MicDeviceName),
        IntField("SpeakerDeviceID", &M::SpeakerDeviceID, 0, true, KeepOrDefault(INT32_MIN, INT32_MAX)),
        TextField("SpeakerDeviceName", &M::SpeakerDeviceName),
        IntField("CameraDeviceID", &M::CameraDeviceID, 0, true, KeepOrDefault(INT32_MIN, INT32_MAX)),
        TextField("CameraDeviceName", &M::CameraDeviceName),
        IntField("VideoQuality", &M::VideoQuality, vqMedium, true,
                 MapNumber(1, [](int32_t n) { return n == 0 ? vqLow : n == 2 ? vqHigh : vqMedium; })),
        // Read as stored, without the setter.
        AccessorField<M>("PictureSavePath", [](const M& m) { return WritePathText(m.FPictureSavePath); },
                         [](M& m, const QString& t) { m.FPictureSavePath = ReadPathText(t); }),
    };
    return fields;
}

void TMultimediaOptions::LoadData()
{
    pugi::xml_document doc;
    if (XmlFile::Load(FileName(), doc) == XmlFile::TLoadResult::Loaded)
        ReadFields(Fields(), *this, doc.document_element());
}

void TMultimediaOptions::SaveData() const
{
    pugi::xml_document doc;
    WriteFields(Fields(), *this, ResetDocument(doc, "Multimedia"));
    QDir().mkpath(GetAppRoot() + QStringLiteral("Config"));
    XmlFile::Save(FileName(), doc);
}

} // namespace pelvox
