#pragma once

#include <QFile>

#include <functional>
#include <utility>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// Runs `call` in a forked child that exits with what it returns. Gives the child's status as wait4 gives it
// (0: it exited with 0; -1: it could not be waited for) and its peak resident size in kilobytes.
inline std::pair<int, long> RunInChild(const std::function<int()> &call)
{
    const pid_t child = fork();
    if (child == 0)
        _exit(call());
    int status = -1;
    rusage usage{};
    return {wait4(child, &status, 0, &usage) == child ? status : -1, usage.ru_maxrss};
}

// The resident size of this process now, in kilobytes: where a child's peak starts.
inline long ResidentKilobytes()
{
    QFile statm("/proc/self/statm");
    return statm.open(QIODevice::ReadOnly)
               ? statm.readAll().split(' ').value(1).toLong() * (sysconf(_SC_PAGESIZE) / 1024)
               : 0;
}

// RunInChild, giving how far the child's resident size grew past where it started, in kilobytes: a child starts
// without the parent's pages of its libraries, which the parent's own size counts.
inline std::pair<int, long> GrowthInChild(const std::function<int()> &call)
{
    int ends[2];
    if (pipe(ends) != 0)
        return {-1, 0};
    const auto measured = [&] {
        const long start = ResidentKilobytes();
        const int result = call();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const long grown = usage.ru_maxrss - start;
        return write(ends[1], &grown, sizeof grown) == sizeof grown ? result : 1;
    };
    const int status = RunInChild(measured).first;
    long grown = 0;
    close(ends[1]);
    if (read(ends[0], &grown, sizeof grown) != sizeof grown)
        grown = 0; // the child ended before it could tell
    close(ends[0]);
    return {status, grown};
}
