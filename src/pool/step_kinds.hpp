#pragma once
// The kinds of batch step, as the engine of step_engine.hpp sees them: what one undivided piece
// computes and how two adjacent pieces' results are put together. The per-item functions are
// called from several workers at once, on different items, and must be safe for that. They are
// called directly, so they are function objects (lambdas), not pointers to members: that keeps
// <functional> out of every unit that runs a step.
#include <cstddef>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvane::pool::detail {

// output[i] = f(input[i]). The result counts the slots written, which must come to n in the end.
template <class In, class Out, class F>
class MapStep {
public:
    using Result = std::size_t;

    MapStep(std::span<const In> input, std::span<Out> output, F& f) : input_(input), output_(output), f_(f) {}

    Result leaf(std::size_t begin, std::size_t end) {
        std::size_t written = 0;
        for (std::size_t i = begin; i < end; ++i) {
            output_[i] = f_(input_[i]);
            ++written;
        }
        return written;
    }
    Result combine(Result left, Result right) const noexcept { return left + right; }

private:
    std::span<const In> input_;
    std::span<Out> output_;
    F& f_;
};

// f(begin, end) once per undivided piece, for steps that address their own storage.
template <class F>
class RangeStep {
public:
    using Result = std::size_t;

    explicit RangeStep(F& f) : f_(f) {}

    Result leaf(std::size_t begin, std::size_t end) {
        if (begin < end) f_(begin, end);
        return end - begin;
    }
    Result combine(Result left, Result right) const noexcept { return left + right; }

private:
    F& f_;
};

// One text per undivided piece, its items' texts with the separator between them. The pieces
// stay apart until the end, where they are joined once (join_pieces) instead of at every level.
template <class F>
class TextStep {
public:
    using Result = std::vector<std::string>;

    TextStep(F& append_item, std::string_view separator) : append_item_(append_item), separator_(separator) {}

    Result leaf(std::size_t begin, std::size_t end) {
        Result pieces;
        if (begin == end) return pieces;
        std::string& text = pieces.emplace_back();
        for (std::size_t i = begin; i < end; ++i) {
            if (i != begin) text.append(separator_);
            append_item_(i, text);
        }
        return pieces;
    }
    Result combine(Result&& left, Result&& right) const {
        left.insert(left.end(), std::make_move_iterator(right.begin()), std::make_move_iterator(right.end()));
        return std::move(left);
    }

private:
    F& append_item_;
    std::string_view separator_;
};

inline std::string join_pieces(const std::vector<std::string>& pieces, std::string_view separator) {
    std::size_t length = 0;
    for (const std::string& piece : pieces) length += piece.size();
    if (!pieces.empty()) length += separator.size() * (pieces.size() - 1);
    std::string joined;
    joined.reserve(length);
    for (std::size_t p = 0; p < pieces.size(); ++p) {
        if (p != 0) joined.append(separator);
        joined.append(pieces[p]);
    }
    return joined;
}

// The item indices first, first + stride, first + 2 * stride, ...: position k of the step is
// index first + k * stride. Each piece folds its items in order into the best so far; a later
// candidate replaces it only when `prefer(candidate, current)` holds, and two pieces combine the
// same way with the left one as the current best, so the outcome is that of one loop in order.
template <class T, class F, class Prefer>
class ReduceStep {
public:
    using Result = std::optional<std::pair<std::size_t, T>>;

    ReduceStep(std::size_t first, std::size_t stride, F& item, Prefer& prefer)
        : first_(first), stride_(stride), item_(item), prefer_(prefer) {}

    Result leaf(std::size_t begin, std::size_t end) {
        Result best;
        for (std::size_t position = begin; position < end; ++position) {
            const std::size_t index = first_ + position * stride_;
            T candidate = item_(index);
            if (!best || prefer_(std::as_const(candidate), std::as_const(best->second))) {
                best.emplace(index, std::move(candidate));
            }
        }
        return best;
    }
    Result combine(Result&& left, Result&& right) {
        if (!left) return std::move(right);
        if (!right) return std::move(left);
        return prefer_(std::as_const(right->second), std::as_const(left->second)) ? std::move(right)
                                                                                               : std::move(left);
    }

private:
    std::size_t first_;
    std::size_t stride_;
    F& item_;
    Prefer& prefer_;
};

}  // namespace quorvane::pool::detail
