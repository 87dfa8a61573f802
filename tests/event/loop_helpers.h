// Shared by the loop tests: a pipe that closes itself, and a way to let a
// test thread act while the loop's owner thread is really blocked (in poll(2)
// waiting for events, or on a lock), read from /proc instead of guessed with
// a sleep, so the tests hold however loaded the machine is.
#pragma once

#include <fstream>
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

struct Pipe {
    int fds[2] = {-1, -1};
    int &r = fds[0], &w = fds[1];
    Pipe() { EXPECT_EQ(pipe(fds), 0); }
    ~Pipe()
    {
        for (int fd : fds)
            if (fd >= 0) close(fd);
    }
    void put() { ASSERT_EQ(write(w, "x", 1), 1); }
    void take()
    {
        char c;
        ASSERT_EQ(read(r, &c, 1), 1);
    }
};

inline pid_t this_tid()
{
    return pid_t(syscall(SYS_gettid));
}

// Returns once thread `tid` of this process is blocked in one of `calls`.
inline void wait_until_blocked_in(pid_t tid, std::initializer_list<long> calls)
{
    const std::string path = "/proc/self/task/" + std::to_string(tid) + "/syscall";
    for (;;) {
        std::ifstream f(path);
        long nr = -1;
        if (f >> nr) // "running" reads as no number
            for (long c : calls)
                if (nr == c) return;
        std::this_thread::yield();
    }
}

inline void wait_until_in_poll(pid_t tid)
{
    wait_until_blocked_in(tid, {SYS_poll, SYS_ppoll});
}

inline void wait_until_in_lock(pid_t tid)
{
    wait_until_blocked_in(tid, {SYS_futex});
}
