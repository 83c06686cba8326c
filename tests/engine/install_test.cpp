// The installation as a transaction: a power cut after any step it takes on the disk (installing,
// undoing, or recovering from an earlier cut), then the next start, leave every file all old or
// all new. And the journal's reader, on whole, cut short and garbled journals.
#include "engine/install/disk_steps.h"
#include "engine/install/install_recovery.h"
#include "engine/install/installer.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <map>

using namespace testsupport;

namespace {

struct StopHere {};

// What a power cut leaves on a disk that keeps, as NTFS does, a file's data only once it is
// flushed, and its names in the order they changed: each up to the next flush or rename written
// through. A rename not written through is counted (none may be). Observes the installation's
// steps and throws StopHere after the chosen one.
class CPowerCut : public IDiskObserver {
public:
    explicit CPowerCut(int stopAt) : m_stopAt(stopAt) { SetDiskObserver(this); }
    ~CPowerCut() { SetDiskObserver(nullptr); }
    void Written(const std::string& path) { m_dirty[path] = 0; }
    // At the first new file's move, this download is made to vanish: its move fails later.
    void RemoveAtFirstMoveIn(const std::string& path) { m_toRemove = path; }
    void OnDiskStep(const DiskStep& step) override {
        const std::string path = step.pszPath, to = step.pszTo ? step.pszTo : "";
        switch (step.kind) {
        case DiskStep::Write:
            m_dirty.emplace(path, step.dwFrom);
            break;
        case DiskStep::Flush:
            m_dirty.erase(path);
            m_links.clear(); // the log up to here is on the disk
            m_journalFlushes += PathMatchSpecA(path.c_str(), "*\\install.jnl");
            break;
        case DiskStep::Move:
            m_unwritten += !(step.dwFlags & MOVEFILE_WRITE_THROUGH);
            m_links.clear();
            Renamed(path, to);
            break;
        case DiskStep::Copy:
            ++m_copies;
            m_dirty[to] = 0;
            break;
        case DiskStep::Link:
            m_links.push_back(to);
            break;
        case DiskStep::Delete:
            m_dirty.erase(path);
            break;
        case DiskStep::Folder:
            break;
        }
        if (step.kind != DiskStep::Flush && PathMatchSpecA(path.c_str(), "*.dtm") &&
            !m_toRemove.empty()) {
            DeleteFileA(m_toRemove.c_str());
            m_toRemove.clear();
        }
        if (++m_steps == m_stopAt)
            throw StopHere();
    }
    // Unflushed data becomes zeros, links made since the last flush are gone.
    void Cut() const {
        for (const auto& dirty : m_dirty) {
            std::string data = ReadWholeFile(dirty.first);
            if (data.size() > dirty.second) {
                std::fill(data.begin() + dirty.second, data.end(), '\0');
                WriteWholeFile(dirty.first, data);
            }
        }
        for (const std::string& link : m_links)
            DeleteFileA(link.c_str());
    }
    bool Reached() const { return m_stopAt > 0 && m_steps >= m_stopAt; }
    int m_journalFlushes = 0, m_copies = 0, m_unwritten = 0;

private:
    // Unflushed data goes with its file; the file replaced is gone.
    void Renamed(const std::string& from, const std::string& to) {
        m_dirty.erase(to);
        const auto moved = m_dirty.find(from);
        if (moved != m_dirty.end()) {
            m_dirty[to] = moved->second;
            m_dirty.erase(moved);
        }
    }

    const int m_stopAt;
    int m_steps = 0;
    std::map<std::string, DWORD> m_dirty; // path and where its unflushed bytes begin
    std::vector<std::string> m_links;
    std::string m_toRemove;
};

// The last one is new, in two folders that the installation makes.
const char* const kNames[] = {"a.dat", "b.dat", "c.dat", "data\\new\\added.dat"};

// A recovery cut after step `stop` (none when 0), then the next start's; whether it was cut.
bool RecoverAfterCut(const std::string& temp, int stop) {
    bool reached = false;
    {
        CPowerCut recovery(stop);
        try {
            CompleteUnfinishedInstallation(temp.c_str());
        } catch (const StopHere&) {
        }
        recovery.Cut();
        reached = recovery.Reached();
    }
    EXPECT_NE(CompleteUnfinishedInstallation(temp.c_str()), Recovery::Kept);
    return reached;
}

// One installation of kNames stopped after step `stop` by a power cut; its recovery cut after
// step `recoveryStop`; then the next start's. False when the installation did not reach `stop`.
bool Trial(int stop, int recoveryStop, bool otherVolume, bool failing, bool& recoveryReached) {
    SCOPED_TRACE("stop after step " + std::to_string(stop) + ", the recovery's step " +
                 std::to_string(recoveryStop));
    // Flushing costs little on the memory-backed volume: the folders are there unless they
    // must be on two volumes.
    InstallFolder elsewhere("crash-volume", "Z:\\dev\\shm\\");
    InstallFolder folder("crash", otherVolume ? "" : elsewhere.Path());
    const std::string temp = (otherVolume ? elsewhere : folder) / "t";
    CreateDirectoryA(temp.c_str(), nullptr);
    std::vector<InstallItem> items;
    CPowerCut install(stop);
    for (const char* name : kNames) {
        const std::string source = temp + "\\" + PathFindFileNameA(name) + ".dtm";
        if (name != kNames[3]) {
            EXPECT_TRUE(WriteWholeFile(folder / name, std::string("old ") + name));
        }
        EXPECT_TRUE(WriteWholeFile(source, std::string("new ") + name));
        install.Written(source);
        items.push_back(InstallItem{source.c_str(), name, ""});
    }
    if (failing)
        install.RemoveAtFirstMoveIn(items.back().source.GetString());
    bool installed = false;
    try {
        CInstallation installation(temp.c_str(), folder.Path().c_str());
        installed = installation.Place(items) && installation.Commit();
        if (!installed) {
            EXPECT_EQ(installation.Undo(), CInstallation::UndoOutcome::Complete);
        }
    } catch (const StopHere&) {
    }
    install.Cut();
    recoveryReached = RecoverAfterCut(temp, recoveryStop);

    // New once the commit record is on the disk: the journal's second flush.
    const bool committed = installed || (!failing && install.m_journalFlushes >= 2);
    for (const char* name : kNames) {
        const std::string path = folder / name, wanted = committed ? std::string("new ") + name
                                                         : name == kNames[3]
                                                             ? "none"
                                                             : std::string("old ") + name;
        EXPECT_EQ(Exists(path) ? ReadWholeFile(path) : "none", wanted);
        EXPECT_FALSE(Exists(StagingNameOf(path))) << name;
    }
    EXPECT_EQ(PathIsDirectoryA((folder / "data").c_str()) != FALSE, committed);
    EXPECT_EQ(install.m_unwritten, 0);
    if (!install.Reached()) { // the whole installation: another volume is reached by copies
        EXPECT_EQ(install.m_copies > 0, otherVolume);
    }
    for (const char* leftover : {"install.jnl", "aside"})
        EXPECT_FALSE(Exists(temp + "\\" + leftover)) << leftover;
    return install.Reached();
}

TEST(InstallationStops, EveryStepLeavesEveryFileOldOrNew) {
    if (!PathIsDirectoryA("Z:\\dev\\shm"))
        GTEST_SKIP() << "no memory-backed folder here to serve as another volume";
    const struct {
        const char* what;
        bool otherVolume, failing; // failing: the last file's move fails, all is undone
    } cases[] = {{"committed", false, false},
                 {"undone", false, true},
                 {"temporary folder on another volume, committed", true, false},
                 {"temporary folder on another volume, undone", true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        bool reached = true;
        for (int stop = 1; reached && !::testing::Test::HasFailure(); ++stop) {
            // The recovery is cut after each of its steps too. Not on another volume, to keep
            // the test short: there the undo's steps are cut within the run, and a recovery
            // undoes with the same steps.
            bool recoveryReached = true;
            for (int recoveryStop = c.otherVolume ? 0 : 1;
                 recoveryReached && !::testing::Test::HasFailure(); ++recoveryStop)
                reached = Trial(stop, recoveryStop, c.otherVolume, c.failing, recoveryReached);
        }
    }
}

// What the reader makes of a journal, and the next start with it: a plan cut short or garbled
// was written before anything was touched; a record cut short after it never counts, nor does
// anything after it. An undo removes the file the release added, a commit keeps it.
TEST(InstallationStops, TheJournalCountsWholeRecordsOnly) {
    InstallFolder folder("journal");
    const std::string temp = folder / "t", added = folder / "added.dat";
    CreateDirectoryA(temp.c_str(), nullptr);
    const std::string record = "file\t-\t9dd4e461268c8034f5c8564e155c67a6\t" + temp +
                               "\\added.dat.dtm\t" + added + "\t" + temp + "\\aside\\0\\0\r\n";
    const std::string plan = "install-journal 2\r\n" + record + "planned\r\n";
    const struct {
        const char* what;
        std::string text;
        JournalState state;
    } cases[] = {
        {"empty", "", JournalState::None},
        {"zeros", std::string(64, '\0'), JournalState::None},
        {"header only", "install-journal 2\r\n", JournalState::None},
        {"an earlier format", "install-journal 1\r\n" + record + "planned\r\n", JournalState::None},
        {"plan cut short", plan.substr(0, plan.size() - 12), JournalState::None},
        {"plan without its end", plan.substr(0, plan.size() - 9), JournalState::None},
        {"digest garbled",
         "install-journal 2\r\nfile\t-\t9dd4e461268c8034f5c8564e155c67aX" + record.substr(39) +
             "planned\r\n",
         JournalState::None},
        {"field missing", "install-journal 2\r\n" + record.substr(5) + "planned\r\n",
         JournalState::None},
        {"planned", plan, JournalState::Planned},
        {"commit cut short", plan + "commit", JournalState::Planned},
        {"commit lost to zeros", plan + std::string(11, '\0'), JournalState::Planned},
        {"committed", plan + "committed\r\n", JournalState::Committed},
        {"committed after garbage", plan + "garbage\r\ncommitted\r\n", JournalState::Planned},
        {"undo after a commit", plan + "committed\r\nundo\r\n", JournalState::Undoing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteWholeFile(temp + "\\install.jnl", c.text));
        ASSERT_TRUE(WriteWholeFile(added, "x"));
        InstallPlan read;
        EXPECT_EQ(CInstallJournal(temp.c_str()).Read(read), c.state);
        EXPECT_EQ(read.moves.size(), c.state == JournalState::None ? 0u : 1u);
        EXPECT_NE(CompleteUnfinishedInstallation(temp.c_str()), Recovery::Kept);
        EXPECT_EQ(Exists(added),
                  c.state == JournalState::None || c.state == JournalState::Committed);
        EXPECT_FALSE(Exists(temp + "\\install.jnl"));
    }
    // A journal that cannot be read now is not taken for an empty one.
    ASSERT_TRUE(WriteWholeFile(temp + "\\install.jnl", plan));
    const CKernelHandle held = HoldOpen(temp + "\\install.jnl", GENERIC_READ, 0);
    InstallPlan read;
    EXPECT_EQ(CInstallJournal(temp.c_str()).Read(read), JournalState::Unreadable);
    EXPECT_EQ(CompleteUnfinishedInstallation(temp.c_str()), Recovery::Kept);
    EXPECT_TRUE(Exists(temp + "\\install.jnl"));
}

} // namespace
