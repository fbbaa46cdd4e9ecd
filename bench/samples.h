#pragma once

#include <cstddef>
#include <vector>

// One series of measurements and its order statistics. Asking a statistic of an empty series
// throws std::logic_error: a figure must come from at least one measurement.
class Samples final
{
public:
    void add(double value) { m_values.push_back(value); }
    std::size_t size() const { return m_values.size(); }
    const std::vector<double> &values() const { return m_values; }

    // The middle value; the mean of the two middle ones for an even count.
    double median() const;
    // Nearest rank: the smallest value with at least `fraction` of the series at or below it.
    double percentile(double fraction) const;
    double maximum() const;

private:
    std::vector<double> sorted() const;

    std::vector<double> m_values;
};
