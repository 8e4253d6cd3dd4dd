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

// Makes this process's resident size now its peak (Linux's clear_refs) and gives it in kilobytes: the peak of a
// step is then PeakSince(what this gave before it).
inline long RestartPeak()
{
    QFile refs("/proc/self/clear_refs"), statm("/proc/self/statm");
    if (!refs.open(QIODevice::WriteOnly) || refs.write("5") != 1 || !statm.open(QIODevice::ReadOnly))
        return -1;
    return statm.readAll().split(' ')[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024);
}

inline long PeakSince(long start)
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss - start;
}
