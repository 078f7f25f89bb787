// take, take_triangles and select: new lists of chosen elements, in the order asked for.
//
// Indices and masks are read in place from a buffer or converted once from a sequence
// (frame/buffer_args.hpp). An index outside 0 .. len - 1 is found by the same pool step that
// copies the elements; the error names the first such index in the argument's order, whatever
// the division of the work.
#include <atomic>
#include <cstdint>
#include <utility>

#include "core/vec3d.hpp"
#include "src/frame/buffer_args.hpp"
#include "src/frame/members.hpp"
#include "src/vec_list/point_steps.hpp"

namespace quorvane::binding {
namespace {

using core::Vec3d;
using frame::GridItems;

// The lowest position at which a piece of the step met an index out of range.
class FirstBadPosition {
public:
    explicit FirstBadPosition(std::size_t none) : none_(none), position_(none) {}
    void note(std::size_t position) {
        std::size_t seen = position_.load(std::memory_order_relaxed);
        while (position < seen && !position_.compare_exchange_weak(seen, position, std::memory_order_relaxed)) {
        }
    }
    // Read after the step has joined, which orders every note before it.
    bool found() const { return position_.load(std::memory_order_relaxed) != none_; }
    std::size_t position() const { return position_.load(std::memory_order_relaxed); }

private:
    std::size_t none_;
    std::atomic<std::size_t> position_;
};

[[noreturn]] void raise_bad_index(const frame::NumberArgument& indices, std::size_t position, std::size_t limit) {
    const std::size_t columns = indices.grid().columns;
    frame::Owned index(indices.integer_object(position / columns, position % columns));
    frame::raise_index_out_of_range(index.get(), limit);
}

// ---- take ----

// out[k] = items[index k] for the rows [begin, end) of a one-column grid; stops at the first
// index out of range.
template <class Items>
void gather(const Items& indices, const Vec3d* items, std::size_t limit, Vec3d* out, std::size_t begin,
            std::size_t end, FirstBadPosition& bad) {
    for (std::size_t k = begin; k < end; ++k) {
        const auto index = indices.at(k);
        if (!frame::index_in_range(index, limit)) {
            bad.note(k);
            return;
        }
        out[k] = items[static_cast<std::size_t>(index)];
    }
}

VecListValue take(const VecListValue& list, const frame::IndexArgument& indices) {
    const frame::NumberGrid& grid = indices.grid();
    const std::size_t count = grid.rows;
    const std::size_t limit = list.items.size();
    Vec3dArray out(count);
    FirstBadPosition bad(count);
    frame::with_integer_type(grid.kind, [&](auto type) {
        using T = typename decltype(type)::type;
        const GridItems<T> items(grid);
        const Vec3d* source = list.items.data();
        Vec3d* target = out.data();
        block_step(count, [&](std::size_t begin, std::size_t end) {
            frame::with_item_reader(items, [&](const auto& reader) { gather(reader, source, limit, target, begin, end, bad); });
        });
    });
    if (bad.found()) raise_bad_index(indices, bad.position(), limit);
    return {std::move(out)};
}

// ---- take_triangles ----

// The three corner lists, each moved into its own new VecList.
struct TriangleCorners {
    VecListValue first;
    VecListValue second;
    VecListValue third;

    PyObject* into_python() && {
        frame::Owned lists[] = {frame::Owned(frame::new_instance(std::move(first))),
                                frame::Owned(frame::new_instance(std::move(second))),
                                frame::Owned(frame::new_instance(std::move(third)))};
        frame::Owned tuple(frame::check(PyTuple_New(3)));
        for (Py_ssize_t i = 0; i < 3; ++i) PyTuple_SET_ITEM(tuple.get(), i, lists[i].release());
        return tuple.release();
    }
};

TriangleCorners take_triangles(const VecListValue& list, const frame::IndexTriplesArgument& faces) {
    const frame::NumberGrid& grid = faces.grid();
    const std::size_t count = grid.rows;
    const std::size_t limit = list.items.size();
    TriangleCorners corners{{Vec3dArray(count)}, {Vec3dArray(count)}, {Vec3dArray(count)}};
    FirstBadPosition bad(3 * count);
    frame::with_integer_type(grid.kind, [&](auto type) {
        using T = typename decltype(type)::type;
        const GridItems<T> items(grid);
        const Vec3d* source = list.items.data();
        Vec3d* targets[3] = {corners.first.items.data(), corners.second.items.data(), corners.third.items.data()};
        block_step(count, [&](std::size_t begin, std::size_t end) {
            for (std::size_t face = begin; face < end; ++face) {
                for (std::size_t corner = 0; corner < 3; ++corner) {
                    const T index = items.at(face, corner);
                    if (!frame::index_in_range(index, limit)) {
                        bad.note(3 * face + corner);
                        return;
                    }
                    targets[corner][face] = source[static_cast<std::size_t>(index)];
                }
            }
        });
    });
    if (bad.found()) raise_bad_index(faces, bad.position(), limit);
    return corners;
}

// ---- select ----

}  // namespace

void require_length(const VecListValue& list, std::size_t length, const char* name) {
    if (list.items.size() != length) {
        PyErr_Format(PyExc_ValueError, "the lengths differ: this list has %zu elements, %s has %zu",
                     list.items.size(), name, length);
        throw frame::ErrorAlreadySet{};
    }
}

namespace {

// The selected elements of each block go to the block's own place in the output, so the
// calling thread first counts the selected entries of every block (one pass over the mask),
// then one pool step copies.
template <class Flags>
VecListValue select_by(const VecListValue& list, const Flags& flags) {
    const std::size_t n = list.items.size();
    BatchArray<std::size_t> offsets(block_count(n) + 1);
    offsets[0] = 0;
    for (std::size_t b = 0; b + 1 < offsets.size(); ++b) {
        const std::size_t end = std::min(n, (b + 1) * reduction_block);
        std::size_t selected = 0;
        for (std::size_t i = b * reduction_block; i < end; ++i) selected += flags.at(i) != 0;
        offsets[b + 1] = offsets[b] + selected;
    }
    Vec3dArray out(offsets.back());
    const Vec3d* source = list.items.data();
    Vec3d* target = out.data();
    const std::size_t* starts = offsets.data();
    block_step(n, [&](std::size_t begin, std::size_t end) {
        const std::size_t block = begin / reduction_block;
        std::size_t written = starts[block];
        // A mask that another thread changes meanwhile must not write beyond the block's place,
        // nor leave any of it unwritten.
        const std::size_t stop = starts[block + 1];
        for (std::size_t i = begin; i < end && written < stop; ++i) {
            if (flags.at(i) != 0) target[written++] = source[i];
        }
        for (; written < stop; ++written) target[written] = Vec3d::zero();
    });
    return {std::move(out)};
}

VecListValue select(const VecListValue& list, const frame::MaskArgument& mask) {
    const frame::NumberGrid& grid = mask.grid();
    require_length(list, grid.rows, "mask");
    return frame::with_truth_type(grid.kind, [&](auto type) {
        using T = typename decltype(type)::type;
        return frame::with_item_reader(GridItems<T>(grid), [&](const auto& flags) { return select_by(list, flags); });
    });
}

using def = frame::MembersOf<VecListValue>;

PyMethodDef methods[] = {
    def::method<"take(indices)", &take>(),
    def::method<"take_triangles(faces)", &take_triangles>(),
    def::method<"select(mask)", &select>(),
};

}  // namespace

frame::ClassRows selection_rows() { return {methods}; }
}  // namespace quorvane::binding
