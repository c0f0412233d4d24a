// What the file streams of fstream.h call: the open behind basic_filebuf::open.
#include <ios>
#include <system_error>

#include "files/opening.h"
#include "host/host.h"
#include "operations/report.h"
#include "pathprobe/winfs/error.h"
#include "pathprobe/winfs/fstream.h"

namespace winfs::detail {

opened open_for_stream(const path& p, std::ios_base::openmode mode, std::error_code& ec) {
    ec.clear();
    file_access access{};
    file_disposition disposition{};
    if (!streamOpening(mode, access, disposition)) {
        ec = make_error_code(ERROR_INVALID_PARAMETER);
        return {};
    }
    opened file;
    caught(ec, [&] { file = openPath(p, access, disposition, default_share, ec); });
    return file;
}

void close_descriptor(int fd) noexcept {
    host::closeFile(fd);
}

}  // namespace winfs::detail
