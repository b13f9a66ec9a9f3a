// Preloaded into a program under test (LD_PRELOAD), it kills the program with SIGKILL at exactly
// the N-th call it makes to one of the C library's file-changing functions, so a test can stop a
// save at every point in turn without depending on timing.
//
//   KILL_AT_CALL=N         kill just before the N-th call (0: never)
//   KILL_SIGNAL=S          send signal number S instead of SIGKILL (2: a Ctrl-C)
//   KILL_AT_COUNT_FILE=F   at a normal exit, write the number of calls made to F
//
// The functions counted: open, fwrite, fflush, fsync, fclose, link, rename, unlink, chmod.

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

long calls = 0;

void Count()
{
    static const long killAt = [] {
        const char* text = std::getenv("KILL_AT_CALL");
        return text ? std::atol(text) : 0L;
    }();
    static const int signal = [] {
        const char* text = std::getenv("KILL_SIGNAL");
        return text ? std::atoi(text) : SIGKILL;
    }();
    if (++calls == killAt)
        ::raise(signal);
}

template <typename F> F Next(const char* name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

__attribute__((destructor)) void WriteCount()
{
    if (const char* path = std::getenv("KILL_AT_COUNT_FILE")) {
        if (std::FILE* out = Next<std::FILE* (*)(const char*, const char*)>("fopen")(path, "w")) {
            std::fprintf(out, "%ld\n", calls);
            Next<int (*)(std::FILE*)>("fclose")(out);
        }
    }
}

} // namespace

extern "C" {

int open(const char* path, int flags, ...)
{
    Count();
    mode_t mode = 0;
    if (flags & O_CREAT) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    return Next<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

// Each of the others counts the call, then makes it.
#define COUNTED(Result, name, parameters, arguments)                                               \
    Result name parameters                                                                         \
    {                                                                                              \
        Count();                                                                                   \
        return Next<Result(*) parameters>(#name) arguments;                                        \
    }

COUNTED(size_t, fwrite, (const void* data, size_t size, size_t count, FILE* file),
    (data, size, count, file))
COUNTED(int, fflush, (FILE * file), (file))
COUNTED(int, fsync, (int fd), (fd))
COUNTED(int, fclose, (FILE * file), (file))
COUNTED(int, link, (const char* from, const char* to), (from, to))
COUNTED(int, rename, (const char* from, const char* to), (from, to))
COUNTED(int, unlink, (const char* path), (path))
COUNTED(int, chmod, (const char* path, mode_t mode), (path, mode))
}
