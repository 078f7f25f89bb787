#pragma once
// The Python classes VecList and VecListIterator: a growable array of core vectors, and a
// cursor over its own copy of one.
#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "core/vec3d.hpp"
#include "src/frame/types.hpp"

namespace quorvane::binding {

// Batch results are written in full by the pool straight after allocation, so their storage
// is default-initialised rather than zeroed first.
//
// The storage comes from the non-throwing operator new, and a null result is thrown here as
// std::bad_alloc: an allocator that cannot throw (AddressSanitizer's aborts in the throwing form)
// still lets a list too large for memory fail with MemoryError.
// Large batch outputs are written once, straight after allocation, so much of their cost is the
// first touch of every page. Where the system leaves transparent huge pages to the program (as
// numpy asks for them too), asking for them makes that one fault per 2 MiB instead of per 4 KiB.
// Only advice: where it is refused or unknown nothing changes.
inline void advise_huge_pages([[maybe_unused]] void* storage, [[maybe_unused]] std::size_t bytes) noexcept {
#ifdef MADV_HUGEPAGE
    constexpr std::size_t smallest_advised = std::size_t{4} << 20;
    constexpr std::uintptr_t page = 4096;
    if (bytes < smallest_advised) return;
    const auto start = reinterpret_cast<std::uintptr_t>(storage);
    const std::uintptr_t first_whole_page = (start + page - 1) & ~(page - 1);
    madvise(reinterpret_cast<void*>(first_whole_page), start + bytes - first_whole_page, MADV_HUGEPAGE);
#endif
}

template <class T>
struct UninitializedAllocator : std::allocator<T> {
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
    template <class U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    using std::allocator<T>::allocator;
    T* allocate(std::size_t count) {
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) {
            throw std::bad_array_new_length();
        }
        void* storage = ::operator new(count * sizeof(T), std::nothrow);
        if (storage == nullptr) {
            throw std::bad_alloc();
        }
        advise_huge_pages(storage, count * sizeof(T));
        return static_cast<T*>(storage);
    }
    void deallocate(T* storage, std::size_t) noexcept { ::operator delete(storage); }
    template <class U>
    void construct(U* where) noexcept {
        ::new (static_cast<void*>(where)) U;
    }
    template <class U, class... A>
    void construct(U* where, A&&... arguments) {
        ::new (static_cast<void*>(where)) U(std::forward<A>(arguments)...);
    }
};

template <class T>
using BatchArray = std::vector<T, UninitializedAllocator<T>>;

using Vec3dArray = BatchArray<core::Vec3d>;

struct VecListValue {
    Vec3dArray items;
};

struct VecListIteratorValue {
    Vec3dArray items;
    std::size_t cursor = 0;
};

}  // namespace quorvane::binding

namespace quorvane::frame {
template <>
struct Class<binding::VecListValue> {
    static constexpr const char* name = "VecList";
    static ClassType type;
};
template <>
struct Class<binding::VecListIteratorValue> {
    static constexpr const char* name = "VecListIterator";
    static ClassType type;
};
}  // namespace quorvane::frame
