// SPDX-License-Identifier: MIT
#pragma once

// Runs a piece of work in a child process and reports how far the child's peak
// resident memory rose while it ran, with the number the work returned.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

struct ChildPeak
{
    long long bytes = -1; // risen at the peak; -1 when the child did not report
    long long result = 0; // what the work returned
};

template <class Work> ChildPeak peakInChild(Work work)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        // A forked child starts with its parent's peak; start counting afresh.
        if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", f);
            std::fclose(f);
        }
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        const long long result = work();
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        const ChildPeak peak{(after.ru_maxrss - before.ru_maxrss) * 1024LL, result};
        _exit(write(fds[1], &peak, sizeof peak) == sizeof peak ? 0 : 1);
    }
    close(fds[1]);
    ChildPeak peak;
    const bool received = read(fds[0], &peak, sizeof peak) == sizeof peak;
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return received && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? peak : ChildPeak{};
}
