#pragma once

#include <QtGlobal>

#include <future>

namespace Tarnwick {

// job(from, to) on both halves of [0, count) at once, the second half on a thread of its own.
template<class Job>
void onBothHalves(qsizetype count, Job job)
{
    auto second = std::async(std::launch::async, job, count / 2, count);
    job(0, count / 2);
    second.get();
}

// build(from, to) over [0, count), split in two halves on two threads once count reaches
// `parallelFrom`; the second half's result is appended to the first's, so the whole comes out in
// order. Below that size a thread costs more than it saves.
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
