// Two trawler-desk servers on one catalogue and one store under eight clients: 5,000 uploads of
// a few hundred packages, each sent to both servers at once, some damaged or misnamed, and one
// server killed and restarted half-way. Run by scripts/test on PostgreSQL and S3 (inside
// tests/desk/with-postgresql and tests/desk/with-s3); on neither it runs on one data folder's
// SQLite file and store folder, which two servers may share too.
#include <httplib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "desk/catalogue.h"
#include "desk_harness.h"
#include "output/container_format.h"

namespace trawler::testing {
namespace {

constexpr size_t kUploads = 5000;
constexpr int kClients = 8;
constexpr int kDistinct = 300;  // valid packages; three visits of each unit
constexpr int kDamaged = 40;    // of each damaged kind
constexpr int kAttempts = 40;   // per upload, alternating between the servers
// The whole intake, kill and restart included; it took 10 to 15 s on two shared cores.
constexpr auto kTimeBound = std::chrono::seconds(150);

enum class Kind { kValid, kTruncated, kFlipped, kWrongDigest, kNotPackage };

struct Upload {
    const std::string* body;
    std::string urlSha;
    Kind kind;
};

// What the desk answers each kind with: kept (as valid or as damaged evidence) or refused.
bool Kept(Kind kind) {
    return kind != Kind::kWrongDigest && kind != Kind::kNotPackage;
}

std::vector<std::string> DistinctPackages() {
    std::vector<std::string> packages;
    for (int i = 0; i < kDistinct; ++i) {
        DeviceDescription device = ReliabilityDevice("", 20000 + 700 * (i % 5));
        SetUnitNumber(&device, 5000 + i / 3);
        device.clock[5] = static_cast<uint8_t>(0x10 + i % 3);  // the printer's minutes
        packages.push_back(CollectPackage(device, "load visit " + std::to_string(i)));
    }
    return packages;
}

// Damaged copies: cut short at varying points, or one bit flipped inside the compressed data;
// and bodies that are no package at all (the first byte of the magic changed).
struct Variants {
    std::vector<std::string> truncated, flipped, notPackage;
};

Variants MakeVariants(const std::vector<std::string>& packages) {
    Variants v;
    for (int j = 0; j < kDamaged; ++j) {
        const std::string& p = packages[static_cast<size_t>(j * 7) % packages.size()];
        v.truncated.push_back(p.substr(0, kMagicSize + (p.size() - kMagicSize) * (j % 6 + 1) / 8));
        std::string flipped = p;
        flipped[flipped.size() / 2 + static_cast<size_t>(j)] ^= static_cast<char>(1 << (j % 8));
        v.flipped.push_back(flipped);
        std::string other = p;
        other[0] ^= 0x20;
        v.notPackage.push_back(other);
    }
    return v;
}

// Pairs of the same upload side by side, so that two clients send it to the two servers at the
// same moment; the kinds mixed at random, the same for every run.
std::vector<Upload> Plan(const std::vector<std::string>& packages, const Variants& v) {
    std::mt19937 random(18);
    std::vector<Upload> plan;
    while (plan.size() < kUploads) {
        const unsigned roll = random() % 100, pick = random();
        const std::string& valid = packages[pick % packages.size()];
        Upload u{&valid, Sha256Hex(valid), Kind::kValid};
        if (roll < 8) {
            u.body = &v.truncated[pick % v.truncated.size()];
            u.kind = Kind::kTruncated;
        } else if (roll < 16) {
            u.body = &v.flipped[pick % v.flipped.size()];
            u.kind = Kind::kFlipped;
        } else if (roll < 20) {
            u.urlSha = Sha256Hex(packages[(pick + 1) % packages.size()]);
            u.kind = Kind::kWrongDigest;
        } else if (roll < 24) {
            u.body = &v.notPackage[pick % v.notPackage.size()];
            u.kind = Kind::kNotPackage;
        }
        if (u.kind != Kind::kWrongDigest) u.urlSha = Sha256Hex(*u.body);
        plan.push_back(u);
        plan.push_back(u);
    }
    return plan;
}

class LoadTest : public ::testing::Test {
  protected:
    ScratchFolder m_scratch;
};

TEST_F(LoadTest, EveryAcknowledgedUploadIsKeptOnceAndNothingElse) {
    const std::vector<std::string> packages = DistinctPackages();
    const Variants variants = MakeVariants(packages);
    const std::vector<Upload> plan = Plan(packages, variants);
    const std::string data = m_scratch.Path("data");

    std::unique_ptr<DeskProcess> servers[2] = {std::make_unique<DeskProcess>(data),
                                               std::make_unique<DeskProcess>(data)};
    const std::string token = servers[0]->AdminToken();
    ASSERT_FALSE(token.empty());
    std::atomic<int> ports[2] = {{servers[0]->Port()}, {servers[1]->Port()}};
    ASSERT_GT(ports[0], 0);
    ASSERT_GT(ports[1], 0);

    std::vector<int> statuses(plan.size(), 0);  // the answer each upload ended with
    std::atomic<size_t> next{0};
    std::atomic<int> failedRequests{0};
    std::atomic<bool> late{false};
    const auto deadline = std::chrono::steady_clock::now() + kTimeBound;
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&] {
            for (size_t k; (k = next++) < plan.size();) {
                if (std::chrono::steady_clock::now() > deadline) {
                    late = true;
                    return;
                }
                const Upload& u = plan[k];
                // Each of a pair goes first to its own server; a failed request goes to the
                // other, as a technician's retry would.
                for (int attempt = 0, server = static_cast<int>(k % 2); attempt < kAttempts;
                     ++attempt, server ^= 1) {
                    const int port = ports[server];
                    if (port > 0) {
                        httplib::Client client("127.0.0.1", port);
                        client.set_connection_timeout(5);
                        client.set_read_timeout(30);
                        client.set_write_timeout(30);
                        client.set_bearer_token_auth(token.c_str());
                        auto r = client.Put(("/api/v1/packages/" + u.urlSha).c_str(), *u.body,
                                            "application/octet-stream");
                        if (r && r->status < 500) {
                            statuses[k] = r->status;
                            break;
                        }
                        ++failedRequests;
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
            }
        });
    }
    // Half-way, the second server is killed with uploads in flight and started again.
    while (next < kUploads / 2 && !late) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ports[1] = 0;
    servers[1]->Stop(SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    servers[1] = std::make_unique<DeskProcess>(data);
    EXPECT_GT(servers[1]->Port(), 0) << "the killed server did not start again";
    ports[1] = servers[1]->Port();
    for (std::thread& t : clients) t.join();
    ASSERT_FALSE(late) << "the uploads took longer than " << kTimeBound.count() << " s";
    servers[0]->Stop(SIGTERM);
    servers[1]->Stop(SIGTERM);

    // Every upload was answered as its kind is; a package added at most once however many
    // times and places it was sent.
    std::map<std::string, const std::string*> acknowledged;  // digest -> bytes
    std::set<std::string> refused;
    std::map<std::string, int> added;
    for (size_t k = 0; k < plan.size(); ++k) {
        const Upload& u = plan[k];
        SCOPED_TRACE("upload " + std::to_string(k) + " of kind " +
                     std::to_string(static_cast<int>(u.kind)));
        if (Kept(u.kind)) {
            EXPECT_TRUE(statuses[k] == 200 || statuses[k] == 201) << statuses[k];
            acknowledged[u.urlSha] = u.body;
            if (statuses[k] == 201) ++added[u.urlSha];
        } else {
            EXPECT_EQ(statuses[k], u.kind == Kind::kWrongDigest ? 400 : 415);
            refused.insert(u.urlSha);
            refused.insert(Sha256Hex(*u.body));
        }
    }
    for (const auto& [sha, count] : added) EXPECT_EQ(count, 1) << sha << " added more than once";
    for (const auto& [sha, body] : acknowledged) refused.erase(sha);  // a misnamed valid body

    // The catalogue: one row per acknowledged package, with the reader's verdict, and no other.
    auto& backends = TestBackends::Get();
    EXPECT_EQ(backends.Number(data, "SELECT count(*) FROM packages"),
              static_cast<int64_t>(acknowledged.size()));
    EXPECT_EQ(backends.Number(data, "SELECT count(DISTINCT sha256) FROM packages"),
              static_cast<int64_t>(acknowledged.size()));
    bool created = false;
    std::string error;
    std::unique_ptr<desk::Catalogue> catalogue =
        desk::OpenCatalogue(backends.Catalogue(data), &created, &error);
    ASSERT_TRUE(catalogue) << error;
    std::map<std::string, std::string> verdicts;
    desk::SearchQuery all;
    int64_t total = 0;
    for (std::vector<desk::PackageRecord> page; (all.page - 1) * desk::kSearchPageSize <= total;
         ++all.page) {
        ASSERT_TRUE(catalogue->Search(all, &page, &total)) << catalogue->Error();
        for (const desk::PackageRecord& r : page) verdicts[r.sha256] = r.verdict;
        page.clear();
    }
    EXPECT_EQ(verdicts.size(), acknowledged.size());
    std::set<std::string> valid;
    for (const std::string& p : packages) valid.insert(Sha256Hex(p));
    for (const auto& [sha, body] : acknowledged) {
        EXPECT_EQ(verdicts[sha], valid.count(sha) ? "valid" : "damaged") << sha;
    }
    for (const std::string& sha : refused) EXPECT_EQ(verdicts.count(sha), 0u) << sha;
    // Each unit's visits, taken in by either server in any order, are one chain: every valid
    // visit's diff is to the valid visit collected just before it.
    for (int unit = 5000; unit < 5000 + kDistinct / 3; ++unit) {
        std::vector<desk::PackageRecord> visits;
        ASSERT_TRUE(catalogue->History(unit, &visits)) << catalogue->Error();
        std::string before;
        for (const desk::PackageRecord& r : visits) {
            SCOPED_TRACE("unit " + std::to_string(unit) + " visit " + r.sha256);
            if (r.verdict != "valid") continue;
            EXPECT_EQ(r.previous, before);
            EXPECT_EQ(r.diff.empty(), before.empty());
            before = r.sha256;
        }
    }

    // The store: exactly the catalogued packages, each byte for byte as sent.
    std::unique_ptr<desk::Store> store = desk::OpenStore(TestBackends::Store(data), data, &error);
    ASSERT_TRUE(store) << error;
    std::vector<std::string> objects;
    ASSERT_TRUE(store->List(&objects, &error)) << error;
    std::set<std::string> kept(objects.begin(), objects.end());
    EXPECT_EQ(objects.size(), kept.size());
    std::set<std::string> catalogued;
    for (const auto& [sha, verdict] : verdicts) catalogued.insert(sha);
    EXPECT_EQ(kept, catalogued) << "objects without rows, or rows without objects";
    for (const auto& [sha, body] : acknowledged) {
        desk::StoredCopy copy;
        ASSERT_TRUE(store->Fetch(sha, &copy, &error)) << sha << ": " << error;
        EXPECT_TRUE(BytesText(ReadAll(copy.Path())) == *body) << sha;
    }
    std::printf(
        "load: %zu uploads, %zu packages kept, %zu digests refused, %d requests failed"
        " and sent again; after the kill: %s\n",
        plan.size(), acknowledged.size(), refused.size(), failedRequests.load(),
        servers[1]->Lines().empty() ? "" : servers[1]->Lines().front().c_str());
}

}  // namespace
}  // namespace trawler::testing
