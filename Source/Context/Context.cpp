#include "Context.h"

#include <cstdint>
#include <cstring>

namespace {

std::uint64_t Mix(std::uint64_t z)
{
    z ^= z >> 30;
    z *= 0xBF58476D1CE4E5B9ULL;
    z ^= z >> 27;
    z *= 0x94D049BB133111EBULL;
    z ^= z >> 31;
    return z;
}

} // namespace

extern "C" int CreateContext(const void* Payload, void* Buffer)
{
    if (!Payload || !Buffer) return CONTEXT_BUFFER_SIZE;
    const auto* payload = static_cast<const std::uint8_t*>(Payload);
    auto* buffer = static_cast<std::uint8_t*>(Buffer);
    std::memcpy(buffer, payload, 8);
    std::uint64_t p = 0;
    for (int i = 7; i >= 0; --i)
        p = (p << 8) | payload[i];
    for (int k = 0; k < 2; ++k) {
        const std::uint64_t word =
            Mix(p + static_cast<std::uint64_t>(k + 1) * 0x9E3779B97F4A7C15ULL);
        for (int i = 0; i < 8; ++i)
            buffer[8 + k * 8 + i] = static_cast<std::uint8_t>(word >> (56 - 8 * i));
    }
    return CONTEXT_BUFFER_SIZE;
}

extern "C" int GetContext(const void* Buffer, void* Destination)
{
    if (Buffer && Destination)
        std::memcpy(Destination, static_cast<const std::uint8_t*>(Buffer) + 8, CONTEXT_ID_SIZE);
    return CONTEXT_ID_SIZE;
}
