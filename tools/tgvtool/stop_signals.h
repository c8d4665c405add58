#pragma once
// Ctrl-C and SIGTERM as an event a poll loop can wait for: while an object of this class lives,
// SIGINT and SIGTERM write one byte into a pipe (the only work done in the handler) and the
// loop watches the pipe's read end. The previous handlers come back when the object goes.

#include <signal.h>

class StopSignals {
  public:
    // Throws std::system_error when the pipe or a handler cannot be set up.
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Readable once a stop signal arrived. Owned by this object; do not read it.
    int ReadFd() const { return readFd_; }
    // Whether a stop signal arrived (does not wait).
    bool Stopped() const;

  private:
    int readFd_ = -1;
    int writeFd_ = -1;
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};
