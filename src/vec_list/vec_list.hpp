#pragma once
// The Python classes VecList and VecListIterator: a growable array of core vectors, and a
// cursor over its own copy of one.
#include <cstddef>
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
