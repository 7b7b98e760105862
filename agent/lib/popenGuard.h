// A command's output read through popen, closed by the guard's destructor.
#pragma once

#include <cstdio>

class PipeReader {
public:
    explicit PipeReader(const char *command) : f_(popen(command, "r")) {}
    ~PipeReader()
    {
        if (f_)
            pclose(f_);
    }
    PipeReader(const PipeReader &) = delete;
    PipeReader &operator=(const PipeReader &) = delete;

    FILE *get() const { return f_; }
    explicit operator bool() const { return f_ != nullptr; }

private:
    FILE *f_;
};
