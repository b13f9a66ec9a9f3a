#include "model/PendingFilesQueue.h"

namespace cardmill {

void PendingFilesQueue::Push(const std::string& path)
{
    if (!ring)
        ring = std::make_unique<std::array<std::string, kSlots>>();
    const int next = (head + 1) % kSlots;
    if (next == tail)
        return;
    (*ring)[static_cast<std::size_t>(head)] = path;
    head = next;
}

bool PendingFilesQueue::Pop(std::string& path)
{
    if (!HasPending())
        return false;
    path = (*ring)[static_cast<std::size_t>(tail)];
    tail = (tail + 1) % kSlots;
    if (head == tail)
        Clear();
    return true;
}

void PendingFilesQueue::Clear()
{
    ring.reset();
    head = 0;
    tail = 0;
}

} // namespace cardmill
