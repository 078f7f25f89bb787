#pragma once
// The Python classes VecList and VecListIterator: a growable array of core vectors, and a
// cursor over its own copy of one.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "core/vec3d.hpp"
#include "src/frame/types.hpp"

namespace quorvane::binding {

// Storage for large arrays is mapped by the list itself, and only that mapping is advised to
// use transparent huge pages: large batch outputs are written once, straight after allocation,
// so much of their cost is the first touch of every page, and where the system leaves huge pages
// to the program (as numpy asks for them too) that is one fault per 2 MiB instead of per page.
// Advising memory from the general allocator instead could reach its heap, which unrelated
// allocations reuse. The advice is only advice: where it is refused or unknown nothing changes.
class LargeStorage {
public:
    static constexpr std::size_t smallest = std::size_t{4} << 20;

    // A mapping of at least `bytes` (>= smallest), or null when the system has none to give.
    static void* map(std::size_t bytes) noexcept {
        if (bytes > std::numeric_limits<std::size_t>::max() / 2) return nullptr;  // no address space is that large
        void* storage = mmap(nullptr, rounded(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (storage == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
        madvise(storage, rounded(bytes), MADV_HUGEPAGE);
#endif
        return storage;
    }
    static void unmap(void* storage, std::size_t bytes) noexcept { munmap(storage, rounded(bytes)); }

private:
    // Whole pages of the system's page size.
    static std::size_t rounded(std::size_t bytes) noexcept {
        static const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        return (bytes + page - 1) / page * page;
    }
};

// Batch results are written in full by the pool straight after allocation, so their storage
// is default-initialised rather than zeroed first.
//
// Small storage comes from the non-throwing operator new, large storage from LargeStorage; a
// null result is thrown here as std::bad_alloc: an allocator that cannot throw (AddressSanitizer's
// aborts in the throwing form) still lets a list too large for memory fail with MemoryError.
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
        const std::size_t bytes = count * sizeof(T);
        void* storage = bytes >= LargeStorage::smallest ? LargeStorage::map(bytes) : ::operator new(bytes, std::nothrow);
        if (storage == nullptr) {
            throw std::bad_alloc();
        }
        return static_cast<T*>(storage);
    }
    // A vector hands back the count it allocated, which tells the two kinds of storage apart.
    void deallocate(T* storage, std::size_t count) noexcept {
        if (count * sizeof(T) >= LargeStorage::smallest) {
            LargeStorage::unmap(storage, count * sizeof(T));
        } else {
            ::operator delete(storage);
        }
    }
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
