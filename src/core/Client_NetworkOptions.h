#pragma once
#include "core/Client_Enums.h"
#include "core/SettingsFields.h"
#include <QString>
#include <memory>
#include <vector>

namespace pelvox {

class TSystemConfig;

// One server profile of "Network.xml".
class TNetworkItem {
public:
    TNetworkItem() = default;
    // Copies the stored fields (not the measured delay).
    void Assign(const TNetworkItem& ASource);

    QString NetworkName;
    QString Address() const { return FAddress; }
    void SetAddress(const QString& AValue); // stored trimmed
    int Port = 0;
    int LocalPort = 0;
    int ProxyType = 0;
    QString ProxyAddress;
    int ProxyPort = 0;
    QString Username;
    QString Password;
    QString Domain;

    // Milliseconds the last TestConnection took; -1 when not measured or the
    // profile did not answer.
    int NetworkDelay() const { return FNetworkDelay; }
    // Logs in to the peer-to-peer service at Address:AP2PServicePort (2000 ms
    // at most) and records how long it took. Runs on the login thread.
    void TestConnection(int AP2PServicePort);

    static const std::vector<TSettingsField<TNetworkItem>>& Fields();

private:
    QString FAddress;
    int FNetworkDelay = -1;
};

// The server profiles: "Config/Network.xml" under the application root.
class TNetworkOptions {
public:
    // Loads the profiles at once.
    explicit TNetworkOptions(TSystemConfig* AOwner = nullptr);
    TSystemConfig* SystemConfig() const { return FSystemConfig; }

    // Reads the file (a missing or malformed file gives the default profile).
    void LoadData();
    // Writes the file atomically, readable by its owner only (it holds the
    // proxy password). Throws Exception when it cannot be written.
    void SaveData() const;

    std::vector<std::unique_ptr<TNetworkItem>>& Items() { return FItems; }
    const std::vector<std::unique_ptr<TNetworkItem>>& Items() const { return FItems; }
    TNetworkItem& CurrentItem() { return *FCurrentItem; }
    const TNetworkItem& CurrentItem() const { return *FCurrentItem; }

    // The profile to use after every profile was tested: the smallest delay
    // that is not -1 and below 999999 (first on equal delays), else the first.
    // -1 when the list is empty.
    int BestItemIndex() const;

    static QString FileName(); // application root + "Config/Network.xml"
    static std::unique_ptr<TNetworkItem> CreateDefaultItem();
    // More profiles than this in a file are ignored.
    static constexpr size_t MaxItems = 1000;

private:
    TSystemConfig* FSystemConfig;
    std::vector<std::unique_ptr<TNetworkItem>> FItems;
    std::unique_ptr<TNetworkItem> FCurrentItem;
};

// The chosen devices: "Config/Multimedia.xml" under the application root.
class TMultimediaOptions {
public:
    explicit TMultimediaOptions(TSystemConfig* AOwner = nullptr) : FSystemConfig(AOwner) {}
    TSystemConfig* SystemConfig() const { return FSystemConfig; }

    // A missing or malformed file leaves the values as they are.
    void LoadData();
    void SaveData() const;

    int MicDeviceID = 0;
    QString MicDeviceName = QStringLiteral("默认设备");
    int SpeakerDeviceID = 0;
    QString SpeakerDeviceName = QStringLiteral("默认设备");
    int CameraDeviceID = 0;
    QString CameraDeviceName = QStringLiteral("默认设备");
    TVideoQuality VideoQuality = vqMedium;
    QString PictureSavePath() const { return FPictureSavePath; }
    // Trimmed; a folder separator is appended when missing.
    void SetPictureSavePath(const QString& AValue);

    static QString FileName(); // application root + "Config/Multimedia.xml"
    static const std::vector<TSettingsField<TMultimediaOptions>>& Fields();

private:
    TSystemConfig* FSystemConfig;
    QString FPictureSavePath;
};

// Trimmed, and ending with a folder separator unless empty.
QString NormaliseFolderPath(const QString& AValue);

} // namespace pelvox
