#pragma once

#include <QString>

#include <cstdio>

// The bench's output: one figure per line, "name value", and one line per target,
// "target.name value <op> limit PASS|MISS". Lines starting with "#" describe the run. Numbers are
// written in the C locale whatever the user's, so that the lines can be read back by scripts.
class BenchReport final
{
public:
    enum class Bound { AtMost, Below };

    explicit BenchReport(std::FILE *out = stdout);

    void comment(const QString &text);
    void figure(const QString &name, double value, int decimals);
    void count(const QString &name, long long value);
    // Prints the target's line and counts a miss.
    void target(const QString &name, double value, Bound bound, double limit, int decimals);

    int misses() const { return m_misses; }

    // The moment, the machine and the build, for the header.
    static QString machineDescription();
    // The load averages of the last 1, 5 and 15 minutes, as the kernel reports them.
    static QString loadAverages();

private:
    void line(const QString &text);

    std::FILE *m_out;
    int m_misses = 0;
};
