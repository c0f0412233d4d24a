#include "files/opening.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "host/host.h"
#include "operations/links.h"
#include "operations/lookup.h"
#include "operations/sharing.h"
#include "pathprobe/winfs/error.h"
#include "resolve/resolver.h"
#include "text/path_grammar.h"
#include "windows/lookup_form.h"

namespace winfs {
namespace {

// Opens raced by another that makes or removes the same name, at most, before one settles; and
// links to nothing followed to the name they lead to, as the walk follows links.
constexpr int kRounds = 8;
constexpr int kMaxLinks = 63;

bool has(file_access access, file_access wanted) {
    return (access & wanted) != file_access{};
}

// What an open asks of the host, and what it counts as for sharing.
struct Wanted {
    host::FileMode mode;
    DataAccess data;
    bool cuts;  // create_always or truncate_existing on a file that is there
};

Wanted wantedFor(file_access access, file_disposition disposition) {
    const bool cuts = disposition == file_disposition::create_always ||
                      disposition == file_disposition::truncate_existing;
    // A file cut to nothing is opened for writing on the host, whatever the access asks.
    Wanted wanted{{has(access, file_access::read), has(access, file_access::write) || cuts,
                   has(access, file_access::append)},
                  DataAccess::none,
                  cuts};
    unsigned data = wanted.mode.read ? static_cast<unsigned>(DataAccess::read) : 0U;
    if (has(access, file_access::write) || has(access, file_access::append)) {
        data |= static_cast<unsigned>(DataAccess::write);
    }
    wanted.data = static_cast<DataAccess>(data);
    return wanted;
}

bool writes(const Wanted& wanted) {
    return wanted.mode.write || wanted.mode.append || wanted.cuts;
}

// A device that every Windows machine has, opened for what the access asks: NUL is the host's bit
// bucket, CONIN$ the process's standard input and CONOUT$ its output, CON either as the access
// reads or writes. Any other (a port, a printer) is not there.
detail::opened openDevice(std::string_view name, const Wanted& wanted, std::error_code& ec) {
    const auto is = [name](std::string_view device) {
        return grammar::equalIgnoringAsciiCase(name, device);
    };
    if (!is("NUL") && !is("CON") && !is("CONIN$") && !is("CONOUT$")) {
        ec = make_error_code(ERROR_FILE_NOT_FOUND);
        return {};
    }
    const bool input = is("CONIN$") || (is("CON") && !writes(wanted));
    host::Result<host::Handle> device =
        is("NUL") ? host::openNullDevice(wanted.mode) : host::duplicateStandard(input ? 0 : 1);
    if (!device) {
        ec = device.error().windows(host::At::lastName);
        return {};
    }
    return {device->release(), true, {}};
}

// A file that the walk or the open at once found there: refused when it is no file, or when
// writing it meets its read-only attribute, whoever asks; entered in the table of open files;
// then cut to nothing when the disposition says so.
detail::opened takeExisting(host::Handle file, const Wanted& wanted, file_share share,
                            std::error_code& ec) {
    const host::Result<host::Stat> st = host::statOf(file);
    if (!st) {
        ec = st.error().windows(host::At::lastName);
        return {};
    }
    if (st->type != file_type::regular) {
        // CreateFileW opens no folder without backup semantics; NTFS holds nothing else.
        ec = make_error_code(st->type == file_type::directory ? ERROR_ACCESS_DENIED
                                                              : ERROR_NOT_SUPPORTED);
        return {};
    }
    if (writes(wanted) && (st->mode & 0200U) == 0) {
        ec = make_error_code(ERROR_ACCESS_DENIED);  // the read-only attribute
        return {};
    }
    detail::open_entry entry = enterOpen({st->device, st->inode}, wanted.data, share, ec);
    if (ec) return {};
    if (wanted.cuts) {
        if (const host::Error error = host::resizeTo(file.get(), 0)) {
            ec = error.windows(host::At::lastName);
            return {};
        }
    }
    return {file.release(), true, std::move(entry)};
}

// A file that this open made: entered in the table, where nothing else can hold it yet.
detail::opened takeMade(host::Handle file, const Wanted& wanted, file_share share,
                        std::error_code& ec) {
    const host::Result<host::Stat> st = host::statOf(file);
    if (!st) {
        ec = st.error().windows(host::At::lastName);
        return {};
    }
    detail::open_entry entry = enterOpen({st->device, st->inode}, wanted.data, share, ec);
    if (ec) return {};
    return {file.release(), false, std::move(entry)};
}

// The file that the walk finds at `full` (its links followed by their Windows meaning), opened in
// the folder the walk holds with no link followed; or the name it would make there, made.
// truncate_existing and open_existing make nothing: a missing name is what the walk says it is.
// A name made or removed by another between the walk and the open sends it round again, as does
// a link that leads to nothing, which CreateFileW follows to make the file it names.
detail::opened openWalked(path full, const Wanted& wanted, file_disposition disposition,
                          file_share share, std::error_code& ec) {
    const bool makes = disposition != file_disposition::open_existing &&
                       disposition != file_disposition::truncate_existing;
    int links = 0;
    for (int round = 0; round < kRounds + kMaxLinks; ++round) {
        ec.clear();
        Slot slot;
        if (makes) {
            slot = slotFor(full, ec, kStatus);
        } else {
            Found found = findExisting(full, kStatus, ec);
            slot = {std::move(found.map), std::move(found.at), true, {}};
        }
        if (ec) return {};
        const bool fresh = !slot.exists;
        if (!fresh && disposition == file_disposition::create_new) {
            ec = make_error_code(ERROR_FILE_EXISTS);
            return {};
        }
        if (!fresh && slot.found.type == file_type::directory) {
            ec = make_error_code(ERROR_ACCESS_DENIED);
            return {};
        }
        Held held;
        if (const host::Error error = hold(slot, held)) {
            ec = error.windows(host::At::folderOnTheWay);
            return {};
        }
        host::Result<host::Handle> file = host::openFile(
            held.place(), wanted.mode, fresh ? host::Create::exclusive : host::Create::never);
        if (file) {
            return fresh ? takeMade(std::move(*file), wanted, share, ec)
                         : takeExisting(std::move(*file), wanted, share, ec);
        }
        const host::Error error = file.error();
        ec = error.windows(host::At::lastName);
        if (fresh && error.alreadyThere()) {
            // A link to nothing, which the walk counts as missing itself: the file it names.
            const host::Result<file_type> there = host::typeAt(held.place(), false);
            if (there && *there == file_type::symlink) {
                if (++links > kMaxLinks) {
                    ec = make_error_code(ERROR_CANT_RESOLVE_FILENAME);
                    return {};
                }
                full = linkDestination(full, ec);
                if (ec) return {};
            }
            continue;
        }
        // Gone since the walk: the walk says what is there now. A link where the walk saw a file:
        // nothing is reached through it.
        if (!(!fresh && error.missing())) return {};
    }
    return {};  // the name never held still: its last error
}

}  // namespace

detail::opened openPath(const path& p, file_access access, file_disposition disposition,
                        file_share share, std::error_code& ec) {
    constexpr auto kKnownAccess = file_access::read | file_access::write | file_access::append;
    constexpr auto kKnownShare = file_share::read | file_share::write | file_share::delete_;
    const Wanted wanted = wantedFor(access, disposition);
    if (access == file_access{} || (access & ~kKnownAccess) != file_access{} ||
        (share & ~kKnownShare) != file_share{} ||
        (disposition == file_disposition::truncate_existing && !has(access, file_access::write) &&
         !has(access, file_access::append))) {
        ec = make_error_code(ERROR_INVALID_PARAMETER);
        return {};
    }
    const Map map = drives();
    const path full = absoluteOn(*map, p, ec);
    if (ec) return {};
    if (full.empty()) {
        ec = make_error_code(ERROR_PATH_NOT_FOUND);
        return {};
    }
    // Only a folder is named with a separator after it.
    if (grammar::endsInSeparator(full.native()) && full.has_relative_path()) {
        ec = make_error_code(ERROR_INVALID_NAME);
        return {};
    }
    // A file there as given, with no link on the way, opens in one call, and one that must be
    // there, in another case, by the kept listings of its folders; a file to make, or one the walk
    // must find, is walked to. A device is never opened as given: its form is asked only when
    // that fails, so that the path is parsed once on the way that counts.
    if (disposition != file_disposition::create_new) {
        const OtherCase otherCase = disposition == file_disposition::open_existing ||
                                            disposition == file_disposition::truncate_existing
                                        ? OtherCase::listed
                                        : OtherCase::walked;
        if (std::optional<host::Handle> file = openAsGiven(*map, full, wanted.mode, otherCase)) {
            return takeExisting(std::move(*file), wanted, share, ec);
        }
    }
    const LookupForm form = lookupFormOf(full);
    if (form.kind == LookupForm::Kind::device) return openDevice(form.device, wanted, ec);
    return openWalked(full, wanted, disposition, share, ec);
}

bool streamOpening(std::ios_base::openmode mode, file_access& access,
                   file_disposition& disposition) {
    using ios = std::ios_base;
    if ((mode & ios::app) != 0) mode |= ios::out;
    const bool noreplace = (mode & ios::__noreplace) != 0;
    mode &= ~(ios::ate | ios::binary | ios::__noreplace);
    // The table of Microsoft's library, binary or not: each valid combination and its fopen mode.
    struct Row {
        ios::openmode mode;
        file_access access;
        file_disposition disposition;
    };
    const Row rows[] = {
        {ios::in, file_access::read, file_disposition::open_existing},                   // r
        {ios::out, file_access::write, file_disposition::create_always},                 // w
        {ios::out | ios::trunc, file_access::write, file_disposition::create_always},    // w
        {ios::out | ios::app, file_access::append, file_disposition::open_always},       // a
        {ios::in | ios::out, file_access::read_write, file_disposition::open_existing},  // r+
        {ios::in | ios::out | ios::trunc, file_access::read_write,
         file_disposition::create_always},  // w+
        {ios::in | ios::out | ios::app, file_access::read | file_access::append,
         file_disposition::open_always},  // a+
    };
    for (const Row& row : rows) {
        if (row.mode != mode) continue;
        // noreplace ("x") goes only with the "w" modes: out, out|trunc, in|out|trunc.
        if (noreplace && row.disposition != file_disposition::create_always) return false;
        access = row.access;
        disposition = noreplace ? file_disposition::create_new : row.disposition;
        return true;
    }
    return false;
}

}  // namespace winfs
