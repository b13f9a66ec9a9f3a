#pragma once

#include <array>
#include <memory>
#include <string>

namespace cardmill {

/// The application's queue of paths waiting to be loaded: a ring of 32 slots, so at most 31 wait;
/// a path pushed onto a full ring is dropped without a word. The ring exists only while paths wait.
class PendingFilesQueue {
public:
    static constexpr int kSlots = 32;

    void Push(const std::string& path);
    bool Pop(std::string& path);
    bool HasPending() const { return ring && head != tail; }
    void Clear();
    int Count() const { return ring ? (head - tail + kSlots) % kSlots : 0; }

private:
    std::unique_ptr<std::array<std::string, kSlots>> ring;
    int head = 0;
    int tail = 0;
};

} // namespace cardmill
