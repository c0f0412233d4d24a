// winfs from many threads at once, and while another thread changes the disk under it: every
// answer must be one that the path really had, and no call may fail for a reason the disk never
// gave.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <latch>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "drive_fixture.h"
#include "drives/drive.h"
#include "pathprobe/winfs/filesystem.h"
#include "resolve/name_cache.h"

namespace {

using winfs::file_type;
using winfs::path;
using Clock = std::chrono::steady_clock;

constexpr int kThreads = 16;

// Runs `body` in `count` threads that start together.
template <class Body>
void together(int count, Body body) {
    std::latch start(count);
    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            body(i);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
}

// Calls `change` again and again in a thread of its own until `stop` goes out of scope.
class Changer {
  public:
    template <class Change>
    explicit Changer(Change change)
        : thread_([this, change] {
              while (!stop_.load())
                  change();
          }) {}
    ~Changer() {
        stop_ = true;
        thread_.join();
    }
    Changer(const Changer&) = delete;
    Changer& operator=(const Changer&) = delete;

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class Concurrency : public DriveFixture {
  protected:
    void SetUp() override {
        DriveFixture::SetUp();
        makeFolder(driveC("zor/store"));
        makeFolder(driveC("zor/sub"));
        hostLink("sub", driveC("zor/A"));
    }
    // Calls `check` in `threads` threads for about `seconds`.
    template <class Check>
    static void forAWhile(int threads, double seconds, Check check) {
        const auto end = Clock::now() + std::chrono::duration<double>(seconds);
        together(threads, [&](int) {
            while (Clock::now() < end)
                check();
        });
    }
};

TEST_F(Concurrency, FirstUseOfAMapFromManyThreadsBuildsItOnce) {
    winfs::DriveMapHolder holder;
    std::vector<const winfs::DriveMap*> seen(kThreads);
    together(kThreads, [&](int i) { seen[static_cast<std::size_t>(i)] = holder.current().get(); });
    EXPECT_EQ(std::set<const winfs::DriveMap*>(seen.begin(), seen.end()).size(), 1u);
    EXPECT_EQ(*seen.front()->folderOf('c'), driveC());
}

TEST_F(Concurrency, CallsRacingAReloadKeepTheMapTheyStartedWith) {
    std::atomic<int> wrong{0};
    const Changer reloads([] { winfs::reloadDrives(); });
    forAWhile(4, 1.0, [&] {
        std::error_code ec;
        if (winfs::canonical(path("c:\\ZOR\\a"), ec).string() != "C:\\zor\\sub" || ec) ++wrong;
    });
    EXPECT_EQ(wrong.load(), 0);
}

// sub\L is a regular file or a link to one, swapped by rename or exchanged whole; A links to sub.
TEST_F(Concurrency, ANameSwappedBetweenAFileAndALinkIsAlwaysAFile) {
    makeFile(driveC("zor/sub/target.txt"));
    makeFile(driveC("zor/sub/L"));
    hostLink("target.txt", driveC("zor/sub/other"));
    const std::string sub = driveC("zor/sub");
    const std::string l = sub + "/L";
    const std::string other = sub + "/other";
    const std::pair<const char*, std::function<void()>> swaps[] = {
        {"rename",
         [&] {
             const int fd = ::open((sub + "/file").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
             if (fd >= 0) ::close(fd);
             ::rename((sub + "/file").c_str(), l.c_str());
             ::symlink("target.txt", (sub + "/link").c_str());
             ::rename((sub + "/link").c_str(), l.c_str());
         }},
        {"exchange",
         [&] { ::renameat2(AT_FDCWD, l.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE); }},
    };
    for (const auto& [name, swap] : swaps) {
        SCOPED_TRACE(name);
        const Changer changes(swap);
        std::atomic<int> wrong{0};
        forAWhile(3, 1.5, [&] {
            std::error_code ec;
            if (winfs::status(path("c:\\zor\\A\\L"), ec).type() != file_type::regular) ++wrong;
        });
        EXPECT_EQ(wrong.load(), 0);
    }
}

// sub\L is a folder or a link to c:\zor\store, exchanged; moving into c:\zor\A\L lands in one of
// those two, never in sub itself.
TEST_F(Concurrency, MovingIntoANameExchangedBetweenAFolderAndALinkLandsInOneOfThem) {
    makeFolder(driveC("zor/sub/L"));
    hostLink("../store", driveC("zor/sub/other"));
    const std::string l = driveC("zor/sub/L");
    const std::string other = driveC("zor/sub/other");
    const Changer exchanges(
        [&] { ::renameat2(AT_FDCWD, l.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE); });
    const std::set<std::string> places = {driveC("zor/sub/L"), driveC("zor/sub/other"),
                                          driveC("zor/store")};
    std::set<std::string> wrong;
    forAWhile(1, 1.5, [&] {
        std::error_code ec;
        winfs::current_path(path("c:\\zor\\A\\L"), ec);
        char here[4096];
        if (!ec && ::getcwd(here, sizeof here) != nullptr && places.count(here) == 0) {
            wrong.insert(here);
        }
    });
    EXPECT_TRUE(wrong.empty()) << *wrong.begin();
}

// Entries of one listing asked by many threads at once: the first to read keeps what it read for
// all, the others read meanwhile or take what was kept, and a copy keeps it too.
TEST_F(Concurrency, AListedEntryReadsItsNameOnceForManyThreads) {
    makeFile(driveC("zor/sub/file.txt"));
    ASSERT_EQ(::truncate(driveC("zor/sub/file.txt").c_str(), 5), 0);
    const winfs::directory_iterator listing(path("c:\\zor\\sub"));  // holds the folder open
    const std::vector<winfs::directory_entry> entries(200, *listing);
    std::atomic<int> wrong{0};
    together(kThreads, [&](int i) {
        for (const winfs::directory_entry& entry : entries) {
            const winfs::directory_entry copy = entry;
            const winfs::directory_entry& asked = i % 2 == 0 ? entry : copy;
            if (asked.file_size() != 5 || asked.status().permissions() != winfs::perms::all ||
                entry.last_write_time() != copy.last_write_time()) {
                ++wrong;
            }
        }
    });
    EXPECT_EQ(wrong.load(), 0);
}

// One cache shared by many threads while another adds and removes a name: a name that stays is
// always found in its own case, the other is found or missing, never found in a wrong case.
TEST_F(Concurrency, ACacheOfFolderNamesSharedWhileTheFolderChanges) {
    makeFile(driveC("zor/sub/file.txt"));
    const std::string sub = driveC("zor/sub");
    const std::string extra = sub + "/Extra";
    const Changer changes([&] {
        const int fd = ::open(extra.c_str(), O_CREAT | O_WRONLY, 0666);
        if (fd >= 0) ::close(fd);
        ::unlink(extra.c_str());
    });
    // It keeps every listing at once, so that threads share them; the least used go to make room.
    winfs::NameCache cache({.maxNames = 4, .settle = std::chrono::nanoseconds(0)});
    std::atomic<int> wrong{0};
    forAWhile(kThreads / 2, 1.0, [&] {
        std::string found;
        if (cache.find({-1, sub.c_str()}, "FILE.TXT", found) || found != "file.txt") ++wrong;
        found.clear();
        const std::error_code ec = cache.find({-1, sub.c_str()}, "EXTRA", found);
        if (ec ? ec != winfs::make_error_code(winfs::ERROR_FILE_NOT_FOUND) : found != "Extra") {
            ++wrong;
        }
        if (cache.find({-1, driveC("zor").c_str()}, "STORE", found) || found != "store") ++wrong;
    });
    EXPECT_EQ(wrong.load(), 0);
}

// A folder renamed again and again by another process: each row's answers hold in every state.
TEST_F(Concurrency, AFolderRenamedUnderTheWalk) {
    struct Row {
        const char* change;
        const char* from;  // below c:\zor, renamed to `to` and back
        const char* to;
        std::function<bool()> right;
    };
    const Row rows[] = {
        // One spelling is there at every instant: never missing.
        {"between two spellings", "s/CaseDir", "s/casedir",
         [] {
             std::error_code ec;
             return winfs::status(path("c:\\zor\\s\\CASEDIR"), ec).type() == file_type::directory;
         }},
        // Gone or there, x is missing below it: the missing part is D\x, never the whole path.
        {"away and back", "w/D", "w/E",
         [] {
             std::error_code ec;
             const path weakly = winfs::weakly_canonical(path("c:\\zor\\w\\D\\x"), ec);
             if (ec || weakly.string() != "C:\\zor\\w\\D\\x") return false;
             const path relative =
                 winfs::relative(path("c:\\zor\\w\\D\\x"), path("c:\\zor\\w"), ec);
             return !ec && relative.string() == "D\\x";
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.change);
        const std::string from = driveC("zor/") + row.from;
        const std::string to = driveC("zor/") + row.to;
        makeFolder(from);
        const Changer renames([&] {
            ::rename(from.c_str(), to.c_str());
            ::rename(to.c_str(), from.c_str());
        });
        std::atomic<int> wrong{0};
        forAWhile(2, 0.5, [&] {
            if (!row.right()) ++wrong;
        });
        EXPECT_EQ(wrong.load(), 0);
    }
}

// A folder renamed onto a file while the file's name changes hands once: exchanged on the host
// with a folder Y, or taken by a second folder renamed onto it. Each call's folder is where its
// result says: gone from its name when it succeeded (at T, or at Y if the exchange came after),
// still there, whole, when it failed with 5.
TEST_F(Concurrency, AFolderRenamedOntoAFileIsWhereItsResultSays) {
    struct Row {
        const char* race;
        bool secondRenames;  // else the second thread exchanges T and Y
    };
    const Row rows[] = {{"the file exchanged for a folder", false},
                        {"two folders renamed onto it", true}};
    const std::string w = driveC("w");
    const auto there = [&](const std::string& below) {
        struct stat st {};
        return ::lstat((w + "/" + below).c_str(), &st) == 0;
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.race);
        int wrong = 0;
        for (int round = 0; round < 100; ++round) {
            std::filesystem::remove_all(w);
            for (const char* folder : {"A", "C", "Y"}) {
                makeFolder(w + "/" + folder);
                makeFile(w + "/" + folder + "/" + folder + ".mark");
            }
            makeFile(w + "/T");
            std::error_code results[2];
            together(2, [&](int i) {
                if (i == 0 || row.secondRenames) {
                    winfs::rename(path(i == 0 ? "c:\\w\\A" : "c:\\w\\C"), path("c:\\w\\T"),
                                  results[i]);
                } else {
                    // Spread over the call's time, so that the exchange falls anywhere in it.
                    const auto until = Clock::now() + std::chrono::microseconds(round % 100);
                    while (Clock::now() < until) {
                    }
                    ::renameat2(AT_FDCWD, (w + "/T").c_str(), AT_FDCWD, (w + "/Y").c_str(),
                                RENAME_EXCHANGE);
                }
            });
            for (int i = 0; i < (row.secondRenames ? 2 : 1); ++i) {
                const std::string name = i == 0 ? "A" : "C";
                const std::string mark = name + ".mark";
                const bool right = results[i]
                                       ? results[i].value() == 5 && there(name + "/" + mark)
                                       : !there(name) && (there("T/" + mark) || there("Y/" + mark));
                if (!right) ++wrong;
            }
        }
        EXPECT_EQ(wrong, 0);
    }
}

TEST_F(Concurrency, FoldersMadeByManyAtOnceAreMadeOnceAndFailForNone) {
    constexpr int kRounds = 50;
    std::atomic<int> failures{0};
    std::vector<std::atomic<int>> created(kRounds);
    together(8, [&](int) {
        for (int round = 0; round < kRounds; ++round) {
            const path folder("c:\\zor\\made\\" + std::to_string(round) + "\\a\\b");
            std::error_code ec;
            if (winfs::create_directories(folder, ec)) ++created[static_cast<std::size_t>(round)];
            if (ec) ++failures;
        }
    });
    EXPECT_EQ(failures.load(), 0);
    for (int round = 0; round < kRounds; ++round)
        EXPECT_EQ(created[static_cast<std::size_t>(round)].load(), 1) << round;
}

// Opens that share nothing, from many threads at once: the table lets one at a time hold the
// file, whatever name each opens it by, and a remove never passes one that holds it.
TEST_F(Concurrency, AFileOpenSharingNothingIsHeldByOneAtATime) {
    makeFile(driveC("zor/sub/held"));
    ::link(driveC("zor/sub/held").c_str(), driveC("zor/sub/other").c_str());
    std::atomic<int> inside{0};
    std::atomic<int> wrong{0};
    std::atomic<int> held{0};
    forAWhile(kThreads / 2, 1.0, [&] {
        std::error_code ec;
        const path p(held.load() % 2 == 0 ? "c:\\zor\\A\\HELD" : "c:\\zor\\sub\\other");
        winfs::file file =
            winfs::open_file(p, winfs::file_access::read_write,
                             winfs::file_disposition::open_existing, winfs::file_share::none, ec);
        if (ec) {
            if (ec != winfs::make_error_code(winfs::ERROR_SHARING_VIOLATION)) ++wrong;
            return;
        }
        ++held;
        if (inside.fetch_add(1) != 0) ++wrong;
        if (!winfs::remove(path("c:\\zor\\sub\\held"), ec) &&
            ec != winfs::make_error_code(winfs::ERROR_SHARING_VIOLATION)) {
            ++wrong;
        }
        inside.fetch_sub(1);
    });
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(held.load(), 0);
    EXPECT_TRUE(winfs::exists(path("c:\\zor\\sub\\held")));
}

// Changes and reads below a folder that another thread swaps for a link to a host folder outside
// the prefix, holding the same names, and back: nothing outside changes (no name goes or comes, no
// size, mode or time moves) and no read describes a file outside, in any round, for a path just
// below the folder and one that goes on for more than 2,048 bytes, past which the walk holds
// folders of its own on the way. The link climbs past drive C's root, where on Windows its ".."
// stops: its Windows meaning is C:\victim, which is not there.
TEST_F(Concurrency, NoChangeReachesThroughAFolderSwappedForALink) {
    // Each name below `folder` with its size, mode and time.
    const auto state = [](const std::string& folder) {
        std::set<std::string> entries;
        for (auto it = std::filesystem::recursive_directory_iterator(folder);
             it != std::filesystem::recursive_directory_iterator(); ++it) {
            struct stat st {};
            ::lstat(it->path().c_str(), &st);
            entries.insert(it->path().string() + " " + std::to_string(st.st_size) + " " +
                           std::to_string(st.st_mode) + " " + std::to_string(st.st_mtim.tv_sec));
        }
        return entries;
    };
    // Folders of 250 characters on the way, or none.
    std::string between;  // "/" after each
    const auto fill = [&](const std::string& folder, int files) {
        for (int s = 0; s < 20; ++s) {
            const std::string sub = folder + "/" + between + "s" + std::to_string(s);
            makeFolder(sub);
            for (int f = 0; f < files; ++f)
                makeFile(sub + "/f" + std::to_string(f));
        }
    };
    std::string below;  // c:\r\d\ and the folders on the way, with '\'
    // Calls `change` on each file below c:\r\d.
    const auto eachFile = [&](const std::function<void(const path&, std::error_code&)>& change) {
        std::error_code ec;
        for (int s = 0; s < 20; ++s) {
            for (int f = 0; f < 20; ++f)
                change(path(below + "s" + std::to_string(s) + "\\f" + std::to_string(f)), ec);
        }
    };
    int read = 0;  // answers that describe a name outside
    // Reads `OUTSIDE`, a name that only the folder outside holds, in each folder: any answer that
    // finds it read outside.
    const auto eachOutside = [&](const std::function<bool(const path&, std::error_code&)>& found) {
        for (int round = 0; round < 20; ++round) {
            for (int s = 0; s < 20; ++s) {
                std::error_code ec;
                const path p(below + "s" + std::to_string(s) + "\\OUTSIDE");
                if (found(p, ec) && !ec) ++read;
            }
        }
    };
    // Calls `change` again and again on s0\f0, the name that last-name rows swap.
    const auto onTheLast = [&](const std::function<void(const path&, std::error_code&)>& change) {
        std::error_code ec;
        for (int k = 0; k < 1000; ++k)
            change(path(below + "s0\\f0"), ec);
    };
    std::error_code
        removing;  // what remove_all said of a tree whose emptied folder turned into a link
    struct Row {
        const char* name;
        int files;  // in each folder inside: the changes act on them, the reads need none
        std::function<void()> run;
        // Below d: the name exchanged with a link to its twin outside, the last name of each
        // change rather than a folder on the way; d itself when none.
        const char* swapped = nullptr;
    };
    const Row rows[] = {
        {"remove_all", 20,
         [] {
             std::error_code ec;
             winfs::remove_all(path("c:\\r"), ec);
         }},
        {"permissions", 20,
         [&] {
             eachFile([](const path& p, std::error_code& ec) {
                 winfs::permissions(p, winfs::perms::owner_read, ec);
             });
         }},
        {"resize_file", 20,
         [&] {
             eachFile([](const path& p, std::error_code& ec) { winfs::resize_file(p, 7, ec); });
         }},
        {"last_write_time", 20,
         [&] {
             eachFile([](const path& p, std::error_code& ec) {
                 winfs::last_write_time(p, winfs::file_time_type(), ec);
             });
         }},
        {"remove", 20,
         [&] { eachFile([](const path& p, std::error_code& ec) { winfs::remove(p, ec); }); }},
        {"rename", 20,
         [&] {
             eachFile([](const path& p, std::error_code& ec) {
                 winfs::rename(p, path(p.native() + "x"), ec);
             });
         }},
        {"copy_file onto each", 20,
         [&] {
             eachFile([](const path& p, std::error_code& ec) {
                 winfs::copy_file(path("c:\\r\\three"), p, winfs::copy_options::overwrite_existing,
                                  ec);
             });
         }},
        {"create_directory beside each", 20,
         [&] {
             eachFile([](const path& p, std::error_code& ec) {
                 winfs::create_directory(path(p.native() + "dir"), ec);
             });
         }},
        {"open_file for writing each", 20,
         [&] {
             eachFile([](const path& p, std::error_code& ec) {
                 winfs::file file = winfs::open_file(p, winfs::file_access::write,
                                                     winfs::file_disposition::create_always, ec);
                 if (!ec) file.write("x", 1, ec);
             });
         }},
        {"open_file making a file beside each", 20,
         [&] {
             eachFile([](const path& p, std::error_code& ec) {
                 winfs::open_file(path(p.native() + "new"), winfs::file_access::write,
                                  winfs::file_disposition::create_new, ec);
             });
         }},
        {"last_write_time of a name swapped for a link", 1,
         [&] {
             onTheLast([](const path& p, std::error_code& ec) {
                 winfs::last_write_time(p, winfs::file_time_type(), ec);
             });
         },
         "s0/f0"},
        {"resize_file of a name swapped for a link", 1,
         [&] {
             onTheLast([](const path& p, std::error_code& ec) { winfs::resize_file(p, 7, ec); });
         },
         "s0/f0"},
        {"permissions of a name swapped for a link", 1,
         [&] {
             // Read-only and back, as a mode that does not change is not set again.
             int k = 0;
             onTheLast([&k](const path& p, std::error_code& ec) {
                 winfs::permissions(p, ++k % 2 == 0 ? winfs::perms::all : winfs::perms::owner_read,
                                    ec);
             });
         },
         "s0/f0"},
        {"remove_all of a tree whose emptied folder is swapped for a link", 1,
         [&] { winfs::remove_all(path("c:\\r"), removing); }, "s0"},
        {"directory_iterator", 20,
         [&] {
             for (int s = 0; s < 1000; ++s) {
                 std::error_code ec;
                 const path folder(below + "s" + std::to_string(s % 20));
                 for (winfs::directory_iterator it(folder, ec);
                      !ec && it != winfs::directory_iterator(); it.increment(ec))
                     read += it->path().filename() == "OUTSIDE" ? 1 : 0;
             }
         }},
        {"status", 0,
         [&] {
             eachOutside([](const path& p, std::error_code& ec) {
                 return winfs::status(p, ec).type() == file_type::regular;
             });
         }},
        {"exists", 0,
         [&] {
             eachOutside([](const path& p, std::error_code& ec) { return winfs::exists(p, ec); });
         }},
        {"file_size", 0,
         [&] {
             eachOutside(
                 [](const path& p, std::error_code& ec) { return winfs::file_size(p, ec) == 0; });
         }},
        {"last_write_time read", 0,
         [&] {
             eachOutside([](const path& p, std::error_code& ec) {
                 return winfs::last_write_time(p, ec) != winfs::file_time_type::min();
             });
         }},
        {"hard_link_count", 0,
         [&] {
             eachOutside([](const path& p, std::error_code& ec) {
                 return winfs::hard_link_count(p, ec) == 1;
             });
         }},
        {"ifstream", 0,
         [&] {
             eachOutside([](const path& p, std::error_code&) {
                 const winfs::ifstream in(p);
                 return in.is_open();
             });
         }},
        {"equivalent", 0,
         [&] {
             eachOutside(
                 [](const path& p, std::error_code& ec) { return winfs::equivalent(p, p, ec); });
         }},
        {"directory_entry(path).file_size()", 0,
         [&] {
             eachOutside([](const path& p, std::error_code& ec) {
                 const winfs::directory_entry entry(p, ec);
                 return !ec && entry.file_size(ec) == 0;
             });
         }},
    };
    const std::string outside = temp("victim");
    const std::string d = driveC("r/d");
    const std::string away = driveC("r/away");
    for (const bool deep : {false, true}) {
        between.clear();
        below = "c:\\r\\d\\";
        for (int k = 0; deep && k < 9; ++k) {
            const std::string name = numbered(std::string(248, 'a'), 10 + k);
            between += name + "/";
            below += name + "\\";
        }
        // Made again after a row that changed it, so that each row answers for itself.
        const auto makeOutside = [&] {
            std::filesystem::remove_all(outside);
            fill(outside, 20);
            for (int s = 0; s < 20; ++s)
                makeFile(outside + "/" + between + "s" + std::to_string(s) + "/OUTSIDE");
            return state(outside);
        };
        std::set<std::string> before = makeOutside();
        for (const Row& row : rows) {
            for (int round = 0; round < 2; ++round) {
                SCOPED_TRACE(std::string(row.name) + (deep ? ", deep" : "") + ", round " +
                             std::to_string(round));
                fill(d, row.files);
                makeFile(driveC("r/three"));
                ASSERT_EQ(::truncate(driveC("r/three").c_str(), 3), 0);
                read = 0;
                removing.clear();
                const std::string swapped =
                    row.swapped != nullptr ? d + "/" + between + row.swapped : d;
                const std::string link = row.swapped != nullptr ? swapped + "-link" : away;
                const std::string twin =
                    row.swapped != nullptr ? outside + "/" + between + row.swapped : outside;
                hostLink(std::filesystem::relative(twin, std::filesystem::path(link).parent_path())
                             .string(),
                         link);
                {
                    // One exchange makes the name the link and the link's name the folder or
                    // file, the next puts them back.
                    const Changer swaps([&] {
                        ::renameat2(AT_FDCWD, swapped.c_str(), AT_FDCWD, link.c_str(),
                                    RENAME_EXCHANGE);
                        // The last name is changed without a pause: its window is one call.
                        if (row.swapped == nullptr)
                            std::this_thread::sleep_for(std::chrono::microseconds(100));
                    });
                    row.run();
                }
                if (state(outside) != before) {
                    ADD_FAILURE() << "a change reached outside";
                    before = makeOutside();
                }
                EXPECT_EQ(read, 0) << "answers that describe a name outside";
                EXPECT_FALSE(removing) << removing.message();
                std::filesystem::remove_all(driveC("r"));
            }
        }
    }
}

}  // namespace
