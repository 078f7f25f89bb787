#pragma once
// SipHash-1-3 (one compression round per block, three finalisation rounds), the keyed hash
// CPython itself uses for bytes. With fixed keys it gives hashes that are the same in every
// process and run.
#include <cstddef>
#include <cstdint>
#include <span>

namespace quorvane::core {

namespace detail {

inline constexpr std::uint64_t rotate_left(std::uint64_t value, int bits) {
    return (value << bits) | (value >> (64 - bits));
}

struct SipState {
    std::uint64_t v0, v1, v2, v3;

    constexpr void round() {
        v0 += v1; v1 = rotate_left(v1, 13); v1 ^= v0; v0 = rotate_left(v0, 32);
        v2 += v3; v3 = rotate_left(v3, 16); v3 ^= v2;
        v0 += v3; v3 = rotate_left(v3, 21); v3 ^= v0;
        v2 += v1; v1 = rotate_left(v1, 17); v1 ^= v2; v2 = rotate_left(v2, 32);
    }
    constexpr void absorb(std::uint64_t block) {
        v3 ^= block;
        round();
        v0 ^= block;
    }
};

}  // namespace detail

// The digest of a message of whole 64-bit words, each taken in little-endian byte order.
inline constexpr std::uint64_t siphash13(std::span<const std::uint64_t> words, std::uint64_t key0 = 0,
                                         std::uint64_t key1 = 0) {
    detail::SipState s{key0 ^ 0x736f6d6570736575ULL, key1 ^ 0x646f72616e646f6dULL,
                       key0 ^ 0x6c7967656e657261ULL, key1 ^ 0x7465646279746573ULL};
    for (std::uint64_t word : words) s.absorb(word);
    // The last block carries the message length in bytes in its top byte; no bytes are left over.
    s.absorb(static_cast<std::uint64_t>(words.size() * 8) << 56);
    s.v2 ^= 0xff;
    s.round();
    s.round();
    s.round();
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace quorvane::core
