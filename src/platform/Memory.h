#pragma once

namespace pelvox {

// Keeps large freed blocks (packet payloads of several MiB) in the heap for
// reuse instead of returning them to the system at once: every fresh mapping
// costs a page fault per 4 KiB, which dominates moving big documents.
// TrimWorkingSet still gives memory back when the window is minimised.
void TuneAllocatorForLargePackets();

} // namespace pelvox
