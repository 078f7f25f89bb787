// The Python class KdTree: built once from a VecList, then only read, so any number of threads
// query one tree at once (every member takes the tree for reading only). The build and every
// per-query batch run on the worker pool, letting go of the interpreter meanwhile.
#include "src/spatial/kd_tree_class.hpp"

#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "src/frame/members.hpp"
#include "src/frame/owned_buffer.hpp"
#include "src/vec3d.hpp"
#include "src/vec_list/steps.hpp"
#include "src/vec_list/vec_list.hpp"

namespace quorvane::binding {
namespace {

using core::Vec3d;
using spatial::KdTree;
using spatial::Neighbour;

using Indices = frame::OwnedBuffer<BatchArray<std::int64_t>>;
using Distances = frame::OwnedBuffer<BatchArray<double>>;

struct OnPool {
    template <class F>
    void operator()(std::size_t n, F&& f) const {
        range_step(n, std::forward<F>(f));
    }
};

// ---- checks --------------------------------------------------------------------------------

bool is_finite(const Vec3d& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

void require_points(const KdTree& tree) {
    if (tree.empty()) frame::raise(PyExc_ValueError, "the tree is empty");
}

void require_finite(const Vec3d& p) {
    if (!is_finite(p)) frame::raise(PyExc_ValueError, "p is not finite");
}

std::span<const Vec3d> finite_queries(const VecListValue& queries) {
    const std::span<const Vec3d> items(queries.items);
    if (const auto bad = spatial::first_non_finite(items))
        frame::raise(PyExc_ValueError, "query " + std::to_string(*bad) + " is not finite");
    return items;
}

void require_k(const KdTree& tree, std::size_t k) {
    if (k < 1 || k > tree.size()) {
        frame::raise(PyExc_ValueError,
                     "k must be from 1 to " + std::to_string(tree.size()) + ", got " + std::to_string(k));
    }
}

void require_radius(double radius) {
    if (!(radius >= 0.0)) frame::raise(PyExc_ValueError, "radius must not be negative or NaN");
}

// ---- results -------------------------------------------------------------------------------

// (indices, distances) as a tuple of two memoryviews.
struct IndexedDistances {
    Indices indices;
    Distances distances;
    PyObject* into_python() && {
        frame::Owned first(std::move(indices).into_python());
        frame::Owned second(std::move(distances).into_python());
        return frame::check(PyTuple_Pack(2, first.get(), second.get()));
    }
};

// Answers every query on the pool: `start()` makes, once per range of queries, the callable that
// answers query i. Many queries are taken in the tree's query order, which reads the tree far
// more cache-friendly than an arbitrary order; each answer still goes to its own query's slot.
template <class Start>
void for_each_query(const KdTree& tree, std::span<const Vec3d> queries, Start&& start) {
    constexpr std::size_t worth_ordering = 4096;
    const std::vector<std::size_t> order =
        queries.size() >= worth_ordering ? tree.query_order(queries) : std::vector<std::size_t>{};
    range_step(queries.size(), [&](std::size_t begin, std::size_t end) {
        auto answer = start();
        for (std::size_t j = begin; j < end; ++j) answer(order.empty() ? j : order[j]);
    });
}

// ---- members -------------------------------------------------------------------------------

KdTree make(const VecListValue& points) {
    const std::span<const Vec3d> items(points.items);
    if (items.size() > spatial::max_points) {
        frame::raise(PyExc_ValueError, "a KdTree holds at most " + std::to_string(spatial::max_points) + " points");
    }
    if (const auto bad = spatial::first_non_finite(items))
        frame::raise(PyExc_ValueError, "point " + std::to_string(*bad) + " is not finite");
    return KdTree::build(items, OnPool{});
}

VecListValue points(const KdTree& tree) {
    VecListValue list{Vec3dArray(tree.size())};
    range_step(tree.size(), [&](std::size_t begin, std::size_t end) {
        tree.copy_points_in_original_order(std::span<Vec3d>(list.items), begin, end);
    });
    return list;
}

std::pair<std::size_t, double> nearest(const KdTree& tree, const Vec3d& p) {
    require_points(tree);
    require_finite(p);
    const Neighbour found = tree.nearest(p);
    return {found.index, found.distance};
}

IndexedDistances nearest_array(const KdTree& tree, const VecListValue& queries) {
    require_points(tree);
    const std::span<const Vec3d> items = finite_queries(queries);
    IndexedDistances result{{BatchArray<std::int64_t>(items.size())}, {BatchArray<double>(items.size())}};
    for_each_query(tree, items, [&] {
        return [&](std::size_t i) {
            const Neighbour found = tree.nearest(items[i]);
            result.indices.items[i] = static_cast<std::int64_t>(found.index);
            result.distances.items[i] = found.distance;
        };
    });
    return result;
}

// Row i of the tables gets query i's k nearest.
void fill_k_nearest(const KdTree& tree, std::span<const Vec3d> queries, std::size_t k, std::int64_t* indices,
                    double* distances) {
    for_each_query(tree, queries, [&] {
        return [&, row = std::vector<Neighbour>(k)](std::size_t i) mutable {
            tree.k_nearest(queries[i], row);
            for (std::size_t j = 0; j < k; ++j) {
                indices[i * k + j] = static_cast<std::int64_t>(row[j].index);
                distances[i * k + j] = row[j].distance;
            }
        };
    });
}

IndexedDistances k_nearest(const KdTree& tree, const Vec3d& p, std::size_t k) {
    require_points(tree);
    require_k(tree, k);
    require_finite(p);
    IndexedDistances result{{BatchArray<std::int64_t>(k)}, {BatchArray<double>(k)}};
    fill_k_nearest(tree, std::span<const Vec3d>(&p, 1), k, result.indices.items.data(),
                   result.distances.items.data());
    return result;
}

IndexedDistances k_nearest_array(const KdTree& tree, const VecListValue& queries,
                                                         std::size_t k) {
    require_points(tree);
    require_k(tree, k);
    const std::span<const Vec3d> items = finite_queries(queries);
    IndexedDistances result{{BatchArray<std::int64_t>(items.size() * k), k},
                            {BatchArray<double>(items.size() * k), k}};
    fill_k_nearest(tree, items, k, result.indices.items.data(), result.distances.items.data());
    return result;
}

Indices within(const KdTree& tree, const Vec3d& p, double radius) {
    require_finite(p);
    require_radius(radius);
    const std::vector<std::uint32_t> found = tree.within(p, radius);
    Indices result{BatchArray<std::int64_t>(found.begin(), found.end())};
    return result;
}

Indices count_within_array(const KdTree& tree, const VecListValue& queries, double radius) {
    const std::span<const Vec3d> items = finite_queries(queries);
    require_radius(radius);
    Indices counts{BatchArray<std::int64_t>(items.size())};
    for_each_query(tree, items, [&] {
        return [&](std::size_t i) { counts.items[i] = static_cast<std::int64_t>(tree.count_within(items[i], radius)); };
    });
    return counts;
}

// ---- slots ---------------------------------------------------------------------------------

Py_ssize_t length(PyObject* self) noexcept {
    return frame::guarded<Py_ssize_t>(-1, [&] {
        auto tree = frame::borrow_receiver<KdTree>(self);
        return static_cast<Py_ssize_t>(tree->size());
    });
}

PyObject* repr(PyObject* self) noexcept {
    return frame::guarded<PyObject*>(nullptr, [&] {
        auto tree = frame::borrow_receiver<KdTree>(self);
        return frame::to_python("KdTree(" + std::to_string(tree->size()) + " points)");
    });
}

// A tree pickles as the call that builds it again from its points: the results depend on the
// points alone, so the rebuilt tree answers every query with the same bits.
PyObject* reduce_ex(PyObject* self, PyObject*) noexcept {
    return frame::guarded<PyObject*>(nullptr, [&] {
        frame::Owned list;
        {
            auto tree = frame::borrow_receiver<KdTree>(self);
            list = frame::Owned(frame::new_instance(points(*tree)));
        }
        return frame::check(Py_BuildValue("(O(O))", frame::type_of<KdTree>(), list.get()));
    });
}

using def = frame::MembersOf<KdTree>;
using New = def::constructor<"KdTree(points)", &make>;

PyMethodDef methods[] = {
    def::method<"points()", &points>(),
    def::method<"nearest(p)", &nearest>(),
    def::method<"nearest_array(queries)", &nearest_array>(),
    def::method<"k_nearest(p, k)", &k_nearest>(),
    def::method<"k_nearest_array(queries, k)", &k_nearest_array>(),
    def::method<"within(p, radius)", &within>(),
    def::method<"count_within_array(queries, radius)", &count_within_array>(),
    {"__reduce_ex__", reinterpret_cast<PyCFunction>(reduce_ex), METH_O,
     "__reduce_ex__($self, protocol, /)\n--\n\nThe call that builds the tree again, for pickle and copy."},
};

frame::ClassRows own_rows() { return {methods}; }
constexpr frame::RowSource rows[] = {own_rows};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(New::doc)},
    {Py_tp_new, reinterpret_cast<void*>(New::new_slot)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::deallocate<KdTree>)},
    {Py_tp_repr, reinterpret_cast<void*>(repr)},
    /* mapping and sequence */
    {Py_mp_length, reinterpret_cast<void*>(length)},
    {Py_sq_length, reinterpret_cast<void*>(length)},
    {0, nullptr},
};

// The full name puts the class in quorvane.spatial, where pickle finds it by reference.
PyType_Spec spec{"quorvane.spatial.KdTree", sizeof(frame::Instance<KdTree>), 0, frame::class_flags, slots};

}  // namespace
}  // namespace quorvane::binding

namespace quorvane::frame {
ClassType Class<spatial::KdTree>::type{binding::spec, binding::New::install_vectorcall, binding::rows};
}
