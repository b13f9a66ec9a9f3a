#include "Cli.h"
#include "model/TextEncoding.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

/// stderr as UTF-8 whatever the file names in its messages are made of: a terminal shows each
/// stray byte as a character instead of breaking the line around it.
class MendedStderr {
public:
    MendedStderr()
    {
        const cookie_io_functions_t functions { nullptr, Write, nullptr, nullptr };
        if (std::FILE* stream = ::fopencookie(this, "w", functions)) {
            std::setvbuf(stream, nullptr, _IOLBF, 0);
            stderr = stream;
        }
    }
    ~MendedStderr()
    {
        std::fflush(stderr);
        WriteAll(cardmill::MendUtf8(unfinished));
    }

private:
    static ssize_t Write(void* cookie, const char* data, std::size_t size)
    {
        auto* self = static_cast<MendedStderr*>(cookie);
        const std::string piece = self->unfinished + std::string(data, size);
        WriteAll(cardmill::MendUtf8(piece, &self->unfinished));
        return static_cast<ssize_t>(size);
    }
    static void WriteAll(const std::string& text)
    {
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t written = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
            if (written <= 0)
                return;
            done += static_cast<std::size_t>(written);
        }
    }

    std::string unfinished;
};

} // namespace

int main(int argc, char** argv)
{
    static MendedStderr mended;
    return cardmill::RunCli(argc, argv);
}
