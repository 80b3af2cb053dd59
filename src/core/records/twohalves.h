#pragma once

#include <QtGlobal>

#include <future>

namespace Tarnwick {

// build(from, to) over [0, count), split in two halves on two threads once count reaches
// `parallelFrom`: the second half runs on a thread of its own, and its result is appended to the
// first's, so the whole comes out in order. Below that size a thread costs more than it saves.
template<class Build>
auto inTwoHalves(qsizetype count, qsizetype parallelFrom, Build build) -> decltype(build(0, 0))
{
    if (count < parallelFrom)
        return build(0, count);
    auto second = std::async(std::launch::async, build, count / 2, count);
    auto result = build(0, count / 2);
    result.append(second.get());
    return result;
}

} // namespace Tarnwick
