#include "line_writer.h"

#include <cerrno>
#include <cstdio>

#include "platform.h"

Written WriteLine(const std::string& line) {
    errno = 0;
    const bool written = fwrite(line.data(), 1, line.size(), stdout) == line.size();
    if (fflush(stdout) == 0 && written) return Written::kYes;
    return plat_write_failed_for_broken_pipe() ? Written::kReaderGone : Written::kFailed;
}

int OutputLost(Written written) {
    if (written == Written::kReaderGone) return 0;
    fprintf(stderr, "zarmite-host: standard output could not be written\n");
    return 1;
}
