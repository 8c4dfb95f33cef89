// Benchmark of trawler-desk over HTTP on loopback, and the catalogue filler its query timings
// need. bench/run-benchmarks desk starts the server and runs these:
//   desk_bench intake HOST PORT[,PORT...] TOKEN CLIENTS FOLDER
//       PUTs every .zlg in FOLDER (byte order of names) with CLIENTS threads, each taking the
//       next file; the digests are made before the clock starts, as a client names them before
//       it sends. Client N sends to the Nth port in turn, so that several servers of one desk
//       share the clients evenly. Prints the count, bytes, wall seconds, packages/s, MB/s and
//       the median and 99th percentile of one upload's milliseconds; fails unless every
//       answer is 201.
//   desk_bench fill CATALOGUE UNITS VISITS
//       Adds UNITS x VISITS synthetic packages through Catalogue::Insert in one transaction,
//       each a copy of the catalogue's newest package that has a diff (its report and diff)
//       with its own digest, unit, visit, texts, firmware, times and verdict (one in fifty
//       damaged, which like a real damaged package has no unit fields).
//   desk_bench query HOST PORT TOKEN RUNS PATH...
//       GETs each PATH once untimed, then RUNS times; prints the median and worst milliseconds,
//       the status and the answer's size. Fails on any status but 200.
// Every request opens its own connection, as the desk closes each after one request.
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "desk/catalogue.h"
#include "platform/owned_file.h"
#include "platform/sha256.h"

namespace {

using Clock = std::chrono::steady_clock;
using trawler::desk::Catalogue;
using trawler::desk::PackageRecord;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string FileSha256(const std::string& path) {
    trawler::OwnedFile in(std::fopen(path.c_str(), "rb"));
    trawler::Sha256 hash;
    uint8_t block[1 << 16];
    for (size_t n; in && (n = std::fread(block, 1, sizeof block, in.Get())) > 0;) {
        hash.Update(block, n);
    }
    return hash.FinishHex();
}

httplib::Client Connect(const std::string& host, int port, const std::string& token) {
    httplib::Client client(host, port);
    client.set_connection_timeout(10);
    client.set_read_timeout(120);
    client.set_write_timeout(120);
    client.set_bearer_token_auth(token.c_str());
    return client;
}

// The value at the fraction of the sorted times (0.5 the median), nearest rank.
double Percentile(const std::vector<double>& sorted, double fraction) {
    if (sorted.empty()) return 0;
    const size_t rank =
        static_cast<size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
    return sorted[std::min(sorted.size(), std::max<size_t>(rank, 1)) - 1];
}

int Intake(const std::string& host, const std::vector<int>& ports, const std::string& token,
           int clients, const std::string& folder) {
    struct Item {
        std::string path, sha256;
        uint64_t size;
    };
    std::vector<Item> items;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == ".zlg") {
            items.push_back({entry.path().string(), "", std::filesystem::file_size(entry.path())});
        }
    }
    std::sort(items.begin(), items.end(),
              [](const Item& a, const Item& b) { return a.path < b.path; });
    uint64_t bytes = 0;
    for (Item& item : items) {
        item.sha256 = FileSha256(item.path);
        bytes += item.size;
    }
    std::atomic<size_t> next{0};
    std::atomic<int> failures{0};
    std::mutex report;
    std::vector<double> ms;  // each upload's, from its connection to the answer
    const Clock::time_point start = Clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < clients; ++t) {
        threads.emplace_back([&, t] {
            const int port = ports[static_cast<size_t>(t) % ports.size()];
            for (size_t i; (i = next++) < items.size();) {
                const Item& item = items[i];
                trawler::OwnedFile in(std::fopen(item.path.c_str(), "rb"));
                const Clock::time_point sent = Clock::now();
                httplib::Client client = Connect(host, port, token);
                // Streamed from the file, as trawler-cli send and curl -T send it.
                auto result = client.Put(
                    ("/api/v1/packages/" + item.sha256).c_str(), item.size,
                    [&](size_t offset, size_t length, httplib::DataSink& sink) {
                        char block[1 << 16];
                        if (std::fseek(in.Get(), static_cast<long>(offset), SEEK_SET) != 0) {
                            return false;
                        }
                        size_t n = std::fread(block, 1, std::min(length, sizeof block), in.Get());
                        return n > 0 && sink.write(block, n);
                    },
                    "application/octet-stream");
                const double took = Seconds(sent) * 1000;
                {
                    std::lock_guard<std::mutex> lock(report);
                    ms.push_back(took);
                }
                if (!result || result->status != 201) {
                    ++failures;
                    std::lock_guard<std::mutex> lock(report);
                    std::fprintf(stderr, "desk_bench: %s: %s\n", item.path.c_str(),
                                 result
                                     ? (std::to_string(result->status) + " " + result->body).c_str()
                                     : httplib::to_string(result.error()).c_str());
                }
            }
        });
    }
    for (std::thread& t : threads) t.join();
    const double wall = Seconds(start);
    std::sort(ms.begin(), ms.end());
    std::printf(
        "clients %d\nservers %zu\npackages %zu\nbytes %llu\nseconds %.3f\npackages_per_s %.1f\n"
        "mb_per_s %.1f\np50_ms %.2f\np99_ms %.2f\nfailures %d\n",
        clients, ports.size(), items.size(), static_cast<unsigned long long>(bytes), wall,
        static_cast<double>(items.size()) / wall, static_cast<double>(bytes) / wall / 1e6,
        Percentile(ms, 0.5), Percentile(ms, 0.99), failures.load());
    return failures == 0 ? 0 : 1;
}

int Fill(const std::string& location, int units, int visits) {
    bool created = false;
    std::string error;
    std::unique_ptr<Catalogue> catalogue = trawler::desk::OpenCatalogue(location, &created, &error);
    if (!catalogue) {
        std::fprintf(stderr, "desk_bench: %s\n", error.c_str());
        return 2;
    }
    PackageRecord model;
    {
        trawler::desk::SearchQuery all;
        std::vector<PackageRecord> page;
        int64_t total = 0;
        for (; model.diff.empty() && catalogue->Search(all, &page, &total) && !page.empty();
             ++all.page) {
            for (const PackageRecord& r : page) {
                if (!r.diff.empty()) model = r;
            }
        }
        if (model.diff.empty()) {
            std::fprintf(stderr, "desk_bench: the catalogue holds no package with a diff\n");
            return 2;
        }
    }
    nlohmann::ordered_json report = nlohmann::ordered_json::parse(model.report);
    const char* firmwares[] = {"2.1.0.37", "2.1.0.30", "2.2.1.1", "2.2.1.4", "3.0.0.0"};
    const char* places[] = {"Hotel Aurora", "Stadtwerke", "Clinic North", "Depot 7", "Library"};
    const char* jobs[] = {"fuser noise", "paper jam", "routine visit", "roller replaced",
                          "error 41"};
    trawler::desk::WriteTransaction transaction(*catalogue);
    const Clock::time_point start = Clock::now();
    for (int u = 0; u < units; ++u) {
        std::string previous;
        for (int v = 0; v < visits; ++v) {
            const int n = u * visits + v;
            PackageRecord r = model;
            trawler::Sha256 hash;
            const std::string name = "synthetic " + std::to_string(n);
            hash.Update(reinterpret_cast<const uint8_t*>(name.data()), name.size());
            r.sha256 = hash.FinishHex();
            r.unitNumber = 100000 + u;
            r.hasUnit = true;
            r.firmware = firmwares[(u + v / 4) % 5];
            // Visits spread over about three years, each unit on its own days.
            const int day = (u * 7 + v * 100) % 1095;
            char when[32];
            std::snprintf(when, sizeof when, "%04d-%02d-%02dT%02d:%02d:%02dZ", 2024 + day / 365,
                          1 + day % 365 / 31, 1 + day % 31 % 28, u % 24, v % 60, n % 60);
            r.received = when;
            std::snprintf(when, sizeof when, "%04d%02d%02d%02d%02d", 2024 + day / 365,
                          1 + day % 365 / 31, 1 + day % 31 % 28, u % 24, v % 60);
            r.collected = when;
            r.customer = std::string(places[u % 5]) + " " + std::to_string(u);
            r.comment = std::string(jobs[(u + v) % 5]) + " visit " + std::to_string(v + 1);
            // One package in fifty is damaged: no unit fields, no diff.
            if (n % 50 == 49) {
                r.verdict = "damaged";
                r.errorKind = "truncated-gzip";
                r.message = "the package ends inside the compressed data";
                r.hasUnit = false;
                r.firmware.clear();
                r.clock.clear();
                r.collected.clear();
                r.customer.clear();
                r.comment.clear();
                r.logLength = -1;
            } else {
                r.verdict = "valid";
                r.errorKind.clear();
                r.message.clear();
            }
            report["sha256"] = r.sha256;
            report["unit_number"] = r.unitNumber;
            report["texts"]["customer"] = r.customer;
            report["texts"]["comment"] = r.comment;
            r.report = report.dump();
            r.previous = r.verdict == "valid" ? previous : "";
            if (r.previous.empty()) r.diff.clear();
            if (r.verdict == "valid") previous = r.sha256;
            if (!catalogue->Insert(r)) {
                std::fprintf(stderr, "desk_bench: %s\n", catalogue->Error().c_str());
                return 2;
            }
        }
    }
    if (!transaction.Commit()) {
        std::fprintf(stderr, "desk_bench: %s\n", catalogue->Error().c_str());
        return 2;
    }
    std::printf("synthetic_packages %d\nfill_seconds %.3f\n", units * visits, Seconds(start));
    return 0;
}

int Query(const std::string& host, int port, const std::string& token, int runs,
          const std::vector<std::string>& paths) {
    int failures = 0;
    for (const std::string& path : paths) {
        std::vector<double> ms;
        int status = 0;
        size_t size = 0;
        for (int i = 0; i <= runs; ++i) {
            httplib::Client client = Connect(host, port, token);
            const Clock::time_point start = Clock::now();
            auto result = client.Get(path.c_str());
            const double took = Seconds(start) * 1000;
            status = result ? result->status : 0;
            if (status != 200) break;
            size = result->body.size();
            if (i > 0) ms.push_back(took);  // the first one untimed
        }
        if (status != 200) {
            std::printf("query %s status %d\n", path.c_str(), status);
            ++failures;
            continue;
        }
        std::sort(ms.begin(), ms.end());
        std::printf("query %-60s median_ms %8.2f worst_ms %8.2f bytes %zu\n", path.c_str(),
                    ms[ms.size() / 2], ms.back(), size);
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() == 6 && a[0] == "intake") {
        std::vector<int> ports;
        for (size_t at = 0; at <= a[2].size();) {
            const size_t comma = std::min(a[2].find(',', at), a[2].size());
            ports.push_back(std::atoi(a[2].substr(at, comma - at).c_str()));
            at = comma + 1;
        }
        return Intake(a[1], ports, a[3], std::atoi(a[4].c_str()), a[5]);
    }
    if (a.size() == 4 && a[0] == "fill") {
        return Fill(a[1], std::atoi(a[2].c_str()), std::atoi(a[3].c_str()));
    }
    if (a.size() >= 6 && a[0] == "query") {
        return Query(a[1], std::atoi(a[2].c_str()), a[3], std::atoi(a[4].c_str()),
                     std::vector<std::string>(a.begin() + 5, a.end()));
    }
    std::fprintf(stderr,
                 "usage: desk_bench intake HOST PORT[,PORT...] TOKEN CLIENTS FOLDER\n"
                 "       desk_bench fill CATALOGUE UNITS VISITS\n"
                 "       desk_bench query HOST PORT TOKEN RUNS PATH...\n");
    return 2;
}
