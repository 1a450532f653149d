#pragma once
#include <cstdint>

namespace pelvox {

// Shared one-byte enumerations of the directory and conversation data.

// An ordinary message or an automatic reply.
enum TMsgType : uint8_t { mtChatMsg = 0, mtAutoWriteBack = 1 };
// Importance of a message.
enum TMsgLevel : uint8_t { mlNormal = 0, mlImportant = 1 };

} // namespace pelvox
