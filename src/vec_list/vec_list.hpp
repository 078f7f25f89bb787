#pragma once
// The Python classes VecList and VecListIterator: a growable array of core vectors, and a
// cursor over its own copy of one.
#include <cstddef>
#include <memory>
#include <vector>

#include "core/vec3d.hpp"
#include "src/frame/types.hpp"

namespace quorvane::binding {

// Batch results are written in full by the pool straight after allocation, so their storage
// is default-initialised rather than zeroed first.
template <class T>
struct UninitializedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    using std::allocator<T>::allocator;
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
