// trawler-desk purge on the desk's catalogue and store: what goes and what stays, each
// original's deletion logged once, and a purge cut short after each of its steps finished by
// the next purge or start, never leaving a row without its file nor a file without its row.
#include <httplib.h>

#include <gtest/gtest.h>

#include <set>

#include "desk/catalogue.h"
#include "desk/purge.h"
#include "desk/store.h"
#include "desk_harness.h"

namespace trawler::testing {
namespace {

using Shas = std::set<std::string>;

// Three visits of unit 1234, one of unit 77 and a damaged package, sent to a desk; all but the
// newest visit of unit 1234 then look as if received in 2020.
class PurgeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        DeviceDescription device = ReliabilityDevice("", 20000);
        for (int visit = 0; visit < 3; ++visit) {
            device.clock[5] = static_cast<uint8_t>(0x10 + visit);  // the printer's minutes
            m_unit.push_back(CollectPackage(device, "visit " + std::to_string(visit)));
        }
        DeviceDescription other = ReliabilityDevice("", 21000);
        SetUnitNumber(&other, 77);
        m_other = CollectPackage(other, "other unit");
        m_damaged = m_unit[0].substr(0, 3000);
    }

    std::string Sha(const std::string& bytes) const { return Sha256Hex(bytes); }

    // A desk with the packages on a data folder of its own.
    std::string Prepare(const std::string& name) {
        const std::string data = m_scratch.Path(name);
        DeskProcess desk(data);
        m_token = desk.AdminToken();
        httplib::Client client("127.0.0.1", desk.Port());
        client.set_bearer_token_auth(m_token.c_str());
        for (const std::string* p : {&m_unit[0], &m_unit[1], &m_unit[2], &m_other, &m_damaged}) {
            EXPECT_EQ(Send(desk, *p), 201);
        }
        EXPECT_TRUE(TestBackends::Get().Execute(
            data, "UPDATE packages SET received = '2020-01-01T00:00:00Z' WHERE sha256 != '" +
                      Sha(m_unit[2]) + "'"));
        return data;
    }

    int Send(const DeskProcess& desk, const std::string& package) {
        httplib::Client client("127.0.0.1", desk.Port());
        client.set_bearer_token_auth(m_token.c_str());
        auto r = client.Put(("/api/v1/packages/" + Sha(package)).c_str(), package,
                            "application/octet-stream");
        return r ? r->status : -1;
    }

    static std::unique_ptr<desk::Catalogue> Open(const std::string& data) {
        bool created = false;
        std::string error;
        auto catalogue = desk::OpenCatalogue(TestBackends::Get().Catalogue(data), &created, &error);
        EXPECT_TRUE(catalogue) << error;
        return catalogue;
    }

    // What the catalogue shows, and every package's previous visit is one it shows too.
    static Shas Catalogued(const std::string& data) {
        auto catalogue = Open(data);
        Shas shas;
        desk::SearchQuery all;
        std::vector<desk::PackageRecord> page;
        int64_t total = 0;
        for (; catalogue && catalogue->Search(all, &page, &total) && !page.empty(); ++all.page) {
            for (const auto& r : page) shas.insert(r.sha256);
        }
        std::vector<desk::PackageRecord> visits;
        EXPECT_TRUE(catalogue && catalogue->History(1234, &visits));
        for (const auto& r : visits) {
            EXPECT_TRUE(r.previous.empty() || shas.count(r.previous) == 1)
                << r.sha256 << " names the purged " << r.previous;
            EXPECT_EQ(r.previous.empty(), r.diff.empty()) << r.sha256;
        }
        return shas;
    }

    static Shas Stored(const std::string& data) {
        Shas shas;
        for (const std::string& f : StoredFiles(data)) {
            if (f.compare(0, 4, "tmp/") != 0) shas.insert(f.substr(f.rfind('/') + 1));
        }
        return shas;
    }

    // Each of the shas once among the log's deletion lines, and nothing else deleted.
    static void ExpectDeletedOnce(const std::string& log, const Shas& shas) {
        size_t lines = 0;
        for (size_t at = 0; (at = log.find("deleted the original ", at)) != std::string::npos;
             ++at) {
            ++lines;
        }
        EXPECT_EQ(lines, shas.size()) << log;
        for (const std::string& sha : shas) {
            const std::string line = "trawler-desk: deleted the original " + sha + " (";
            const size_t first = log.find(line);
            EXPECT_NE(first, std::string::npos) << sha << "\n" << log;
            EXPECT_EQ(log.find(line, first + 1), std::string::npos) << sha << "\n" << log;
        }
    }

    ScratchFolder m_scratch;
    std::vector<std::string> m_unit;
    std::string m_other, m_damaged, m_token;
};

TEST_F(PurgeTest, TakesOldPackagesWithTheirFilesAndKeepsEachUnitsNewest) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::vector<int> kept;  // 0..2 the unit's visits, 3 the other unit's, 4 the damaged
    };
    const Case cases[] = {
        {"older than 30 days", {"--older-than", "30"}, {2}},
        {"keeping the newest two", {"--older-than", "30", "--keep-last", "2"}, {1, 2, 3}},
        {"keeping the newest one", {"--older-than", "30", "--keep-last", "1"}, {2, 3}},
        {"nothing that old", {"--older-than", "100000"}, {0, 1, 2, 3, 4}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string data = Prepare("data" + std::to_string(n++));
        const std::vector<std::string> all = {m_unit[0], m_unit[1], m_unit[2], m_other, m_damaged};
        Shas kept, purged;
        for (size_t i = 0; i < all.size(); ++i) {
            const bool keeps = std::count(c.kept.begin(), c.kept.end(), static_cast<int>(i)) > 0;
            (keeps ? kept : purged).insert(Sha(all[i]));
        }
        std::vector<std::string> args = {"purge", "--data", data};
        args.insert(args.end(), c.args.begin(), c.args.end());
        CommandResult r = RunDeskCommand(args);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(Catalogued(data), kept);
        EXPECT_EQ(Stored(data), kept);
        ExpectDeletedOnce(r.out, purged);
        EXPECT_NE(r.out.find(std::to_string(purged.size()) + " package"), std::string::npos)
            << r.out;
    }
}

// A purge stopped after marking, or after deleting a file, as a killed process stops: what it
// left shows no purged package and keeps the file of every package shown; the next purge or
// start ends it. A package sent again while its purge is under way keeps its new file.
TEST_F(PurgeTest, CutShortIsFinishedByTheNextPurgeOrStart) {
    struct Case {
        const char* name;
        desk::PurgeStep step;
        bool sendAgain;    // the oldest visit, between the cut and the ending
        bool endByServer;  // or by trawler-desk purge
    };
    const Case cases[] = {
        {"marked, then purge", desk::PurgeStep::kMarked, false, false},
        {"marked, then start", desk::PurgeStep::kMarked, false, true},
        {"a file deleted, then purge", desk::PurgeStep::kFileDeleted, false, false},
        {"a file deleted, then start", desk::PurgeStep::kFileDeleted, false, true},
        {"marked, sent again, then purge", desk::PurgeStep::kMarked, true, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string data = Prepare("data" + std::to_string(n++));
        const Shas all = {Sha(m_unit[0]), Sha(m_unit[1]), Sha(m_unit[2]), Sha(m_other),
                          Sha(m_damaged)};
        Shas kept = {Sha(m_unit[2]), Sha(m_other)};
        std::string log;
        {
            auto catalogue = Open(data);
            ASSERT_TRUE(catalogue);
            std::string error;
            std::unique_ptr<desk::Store> store =
                desk::OpenStore(TestBackends::Store(data), data, &error);
            ASSERT_TRUE(store) << error;
            desk::PurgeOptions options;
            options.before = "2021-01-01T00:00:00Z";
            options.keepLast = 1;
            std::FILE* out = std::tmpfile();
            int interruptions = 0;
            desk::Purge(*catalogue, *store, options, out, &error,
                        [&c, &interruptions](desk::PurgeStep step) {
                            interruptions += step == c.step;
                            return step == c.step;
                        });
            log = ReadBack(out);
            EXPECT_EQ(interruptions, 1);
        }
        const Shas shown = Catalogued(data), stored = Stored(data);
        EXPECT_EQ(shown, kept);
        for (const std::string& sha : stored) {
            EXPECT_TRUE(shown.count(sha) == 1 ||
                        TestBackends::Get().Number(
                            data, "SELECT count(*) FROM purges WHERE sha256 = '" + sha + "'") == 1)
                << sha << " is a file that no row names";
        }
        EXPECT_EQ(stored.size(), c.step == desk::PurgeStep::kMarked ? 5u : 4u);
        if (c.sendAgain) {
            // Imported: a server's start would end the purge first.
            WriteAll(m_scratch.Path("again.zlg"), ToBytes(m_unit[0]));
            CommandResult r =
                RunDeskCommand({"import", "--data", data, m_scratch.Path("again.zlg")});
            EXPECT_EQ(r.out.rfind("added\t" + Sha(m_unit[0]), 0), 0u) << r.out << r.err;
            kept.insert(Sha(m_unit[0]));
        }
        if (c.endByServer) {
            DeskProcess desk(data);
            for (const std::string& line : desk.Lines()) log += line + "\n";
        } else {
            CommandResult r =
                RunDeskCommand({"purge", "--data", data, "--older-than", "30", "--keep-last", "1"});
            EXPECT_EQ(r.code, 0) << r.err;
            log += r.out;
        }
        EXPECT_EQ(Catalogued(data), kept);
        EXPECT_EQ(Stored(data), kept);
        EXPECT_EQ(TestBackends::Get().Number(data, "SELECT count(*) FROM purges"), 0);
        Shas purged;
        for (const std::string& sha : all) {
            if (kept.count(sha) == 0) purged.insert(sha);
        }
        ExpectDeletedOnce(log, purged);
    }
}

}  // namespace
}  // namespace trawler::testing
