// The settings readers on arbitrary file contents: "Config.xml", "Network.xml"
// and "Multimedia.xml" as they come from disk.
#include "core/Client_NetworkOptions.h"
#include "core/Client_SystemConfig.h"
#include <QCoreApplication>
#include <cstddef>
#include <cstdint>

using namespace pelvox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_settings_xml";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static TSystemConfig config;

    pugi::xml_document doc;
    if (!doc.load_buffer(data, size, pugi::parse_default, pugi::encoding_auto)) return 0;
    config.ReadConfig(doc);
    TNetworkItem item;
    for (const pugi::xml_node node : doc.document_element().children()) ReadFields(TNetworkItem::Fields(), item, node);
    ReadFields(TMultimediaOptions::Fields(), config.MultimediaOptions(), doc.document_element());
    return 0;
}
