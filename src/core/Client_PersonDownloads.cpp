#include "core/Client_PersonDownloads.h"

namespace pelvox {

namespace {
std::shared_ptr<IPersonDownloads>& Slot()
{
    static std::shared_ptr<IPersonDownloads> downloads;
    return downloads;
}
} // namespace

void SetPersonDownloads(std::shared_ptr<IPersonDownloads> ADownloads) { Slot() = std::move(ADownloads); }

IPersonDownloads* PersonDownloads() { return Slot().get(); }

} // namespace pelvox
