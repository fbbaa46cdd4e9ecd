#include "samples.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

std::vector<double> Samples::sorted() const
{
    if (m_values.empty())
        throw std::logic_error("a statistic of no measurements");
    std::vector<double> ordered = m_values;
    std::sort(ordered.begin(), ordered.end());
    return ordered;
}

double Samples::median() const
{
    const std::vector<double> ordered = sorted();
    const std::size_t middle = ordered.size() / 2;
    if (ordered.size() % 2 == 1)
        return ordered[middle];
    return (ordered[middle - 1] + ordered[middle]) / 2;
}

double Samples::percentile(double fraction) const
{
    const std::vector<double> ordered = sorted();
    const double rank = std::ceil(std::clamp(fraction, 0.0, 1.0) * double(ordered.size()));
    const std::size_t index = rank < 1 ? 0 : std::size_t(rank) - 1;
    return ordered[std::min(index, ordered.size() - 1)];
}

double Samples::maximum() const
{
    return sorted().back();
}
