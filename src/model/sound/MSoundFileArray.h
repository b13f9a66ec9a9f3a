#pragma once

#include <cstdint>
#include <vector>

namespace cardmill {

class MSoundFile;

/// The registry of every live sound, in registration order; instruments and phantoms find a sound
/// by its id here. It does not own the sounds: each sound adds and removes itself.
class MSoundFileArray {
public:
    std::uint32_t NextId() { return ++lastId; }
    void Add(MSoundFile* sound) { sounds.push_back(sound); }
    void Remove(const MSoundFile* sound)
    {
        for (auto it = sounds.begin(); it != sounds.end(); ++it)
            if (*it == sound) {
                sounds.erase(it);
                return;
            }
    }
    /// The registered sound with this id, or none (id 0 is never registered).
    MSoundFile* Find(std::uint32_t id) const;
    const std::vector<MSoundFile*>& All() const { return sounds; }
    bool Empty() const { return sounds.empty(); }

private:
    std::vector<MSoundFile*> sounds;
    std::uint32_t lastId = 0;
};

} // namespace cardmill
