// Recordings at the desk: real runs of failing emulated printers recorded by collect --record,
// sent to the real trawler-desk on 127.0.0.1, and what the desk says of them held against what
// collect --device prints when it replays the same file here.
#include <httplib.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "cli/collect_command.h"
#include "cli/send_command.h"
#include "desk/recording_replay.h"
#include "desk_harness.h"
#include "platform/file_ops.h"

namespace trawler::testing {
namespace {

using Json = nlohmann::json;

struct Collected {
    int code;
    std::string out, err;
};

Collected Collect(const std::vector<std::string>& args) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Collected c;
    c.code = RunCollect(args, out, err);
    c.out = ReadBack(out);
    c.err = ReadBack(err);
    return c;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
    }
    return lines;
}

// The phase of the last "PHASE" line collect --progress lines printed: where a failed run was.
std::string LastPhase(const std::string& lines) {
    std::string phase;
    for (const std::string& line : Lines(lines)) {
        if (line.compare(0, 6, "PHASE ") == 0) phase = line.substr(6, line.find(' ', 6) - 6);
    }
    return phase;
}

class RecordingIntake : public ::testing::Test {
  protected:
    std::string Desk() const { return "http://127.0.0.1:" + std::to_string(m_desk.Port()); }
    Json Get(const std::string& path) {
        httplib::Client client("127.0.0.1", m_desk.Port());
        client.set_bearer_token_auth(m_desk.AdminToken().c_str());
        auto r = client.Get(path.c_str());
        return r ? Json::parse(r->body, nullptr, false) : Json();
    }
    // A run of the emulated printer the description makes, recorded into NAME.ztr.
    std::string Record(const std::string& name, const std::string& description) {
        const std::string device = m_scratch.Path(name + ".json");
        WriteAll(device, ToBytes(description));
        const std::string recording = m_scratch.Path(name + ".ztr");
        MakeFolder(m_scratch.Path(name));
        // Short waits, recorded with the run, so that the replays wait as little.
        Collect({"--folder", m_scratch.Path(name), "--device", device, "--record", recording,
                 "--progress", "none", "--setting", "WaitAfterSendMillisec=1", "--setting",
                 "ReadWaitMillisec=1"});
        return recording;
    }

    ScratchFolder m_scratch;
    DeskProcess m_desk{m_scratch.Path("data")};
};

// Printers failing in each phase a run goes through, and one that does not fail: each recording
// is sent with trawler-cli send and listed in its unit's history, and the desk's summary of it is
// what collect --device prints when it replays the file natively: the same boxes in the same
// order, the phase its "PHASE" lines ended in, and the unit and clock only once the run read them.
TEST_F(RecordingIntake, SummaryIsWhatTheNativeReplayShows) {
    ASSERT_GT(m_desk.Port(), 0);
    const std::string printer = R"("printers": [{"name": "PV-730"}])";
    const struct {
        const char* name;
        std::string faults;
    } cases[] = {
        {"no printer online", R"("printers": [{"name": "PV-730", "online": false}], "faults": [])"},
        {"clock",
         printer + R"(, "faults": [{"kind": "truncate", "command": "clock", "after": 12}])"},
        {"unit block",
         printer +
             R"(, "faults": [{"kind": "bad-checksum", "command": "eeprom", "block": 32787}])"},
        {"log info",
         printer + R"(, "faults": [{"kind": "truncate", "command": "log_info", "after": 12}])"},
        {"log data",
         printer +
             R"(, "faults": [{"kind": "no-answer", "command": "log_data", "packet": "middle"}])"},
        {"saved", printer + R"(, "faults": [])"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string name = c.name;
        for (char& ch : name) ch = ch == ' ' ? '-' : ch;
        const std::string recording = Record(name, "{" + c.faults + "}");
        ASSERT_TRUE(PathExists(recording));
        const std::string sha = Sha256Hex(BytesText(ReadAll(recording)));
        MakeFolder(m_scratch.Path(name + "-replay"));
        // The boxes on stderr, the phases on stdout.
        const Collected native = Collect({"--folder", m_scratch.Path(name + "-replay"), "--device",
                                          recording, "--progress", "lines"});

        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        ASSERT_EQ(RunSend({recording, "--desk", Desk(), "--token", m_desk.AdminToken()}, out, err),
                  0)
            << ReadBack(err);
        EXPECT_EQ(ReadBack(out).compare(0, 6, "added\t"), 0);

        const Json summary = Get("/api/v1/recordings/" + sha);
        const Json replay = summary["replay"];
        // The command line prints each box's text on a line of its own.
        std::string printed;
        for (const Json& m : replay["messages"]) printed += m.get<std::string>() + "\n";
        EXPECT_EQ(printed, native.err) << summary.dump();
        EXPECT_EQ(replay["outcome"], native.code == 0 ? "saved" : "failed");
        const std::string phase = native.code == 0 ? "" : LastPhase(native.out);
        EXPECT_EQ(replay["phase"], phase.empty() ? Json() : Json(phase));
        // The unit and clock come from the recording only when the run got past reading them.
        const bool clockRead =
            native.code == 0 || !(phase.empty() || phase == "open" || phase == "clock");
        EXPECT_EQ(replay["clock"].is_string(), clockRead);
        if (clockRead) {
            EXPECT_EQ(replay["clock"], "2006113017451200");
        }
        const int64_t unit = replay["unit_number"].is_null() ? 0 : 1234;
        EXPECT_EQ(replay["unit_number"].is_null(),
                  !(native.code == 0 || phase == "log-info" || phase == "log"));

        const Json history = Get("/api/v1/units/" + std::to_string(unit) + "/history");
        bool listed = false;
        for (const Json& visit : history["visits"]) {
            if (visit["sha256"] == sha) listed = visit["kind"] == "recording" && visit == summary;
        }
        EXPECT_TRUE(listed) << history.dump();
        desk::StoredCopy stored;
        ASSERT_TRUE(FetchStored(m_scratch.Path("data"), sha, &stored));
        EXPECT_EQ(ReadAll(stored.Path()), ReadAll(recording));
    }
}

// What is not a whole recording is refused with 422 and leaves nothing behind; a recording is
// never taken for a package, nor a package for a recording; the same recording again is
// "already"; and the original comes back byte for byte.
TEST_F(RecordingIntake, OnlyWholeRecordingsAreKept) {
    ASSERT_GT(m_desk.Port(), 0);
    const std::string recording = BytesText(ReadAll(Record("log-info",
                                                           R"({"printers": [{"name": "PV-730"}],
            "faults": [{"kind": "truncate", "command": "log_info", "after": 12}]})")));
    const std::string package = CollectPackage(ReliabilityDevice("", 20000), "a package");
    std::string flipped = recording;
    flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x40);
    httplib::Client client("127.0.0.1", m_desk.Port());
    client.set_bearer_token_auth(m_desk.AdminToken().c_str());
    const struct {
        const char* name;
        std::string path;
        std::string body;
        int status;
    } cases[] = {
        {"cut short", "recordings/", recording.substr(0, recording.size() - 9), 422},
        {"a byte changed", "recordings/", flipped, 422},
        {"a package", "recordings/", package, 422},
        {"a recording as a package", "packages/", recording, 415},
        {"whole", "recordings/", recording, 201},
        {"whole again", "recordings/", recording, 200},
    };
    std::vector<std::string> stored = StoredFiles(m_scratch.Path("data"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = client.Put(("/api/v1/" + c.path + Sha256Hex(c.body)).c_str(), c.body,
                            "application/octet-stream");
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, c.status) << r->body;
        if (c.status >= 400) {
            EXPECT_EQ(StoredFiles(m_scratch.Path("data")), stored) << "nothing kept";
        }
    }
    const std::string sha = Sha256Hex(recording);
    auto original = client.Get(("/api/v1/recordings/" + sha + "/original").c_str());
    ASSERT_TRUE(original);
    EXPECT_EQ(original->body, recording);
    EXPECT_EQ(client.Get(("/api/v1/packages/" + sha).c_str())->status, 404);
    EXPECT_EQ(client.Get(("/api/v1/packages/" + sha + "/original").c_str())->status, 404);
    EXPECT_EQ(Get("/api/v1/packages")["total"], 1) << "the recording is listed, the refusals not";
}

// A catalogue of a version before recordings (kind and summary unknown) is migrated on
// opening, and its packages stay packages: in their list, their history and their own route.
// Version 4 has the field-texts right and the audit log; version 3 has neither.
TEST(RecordingCatalogue, OlderCatalogueKeepsItsPackagesAsPackages) {
    const std::string toVersion4 =
        "ALTER TABLE packages DROP COLUMN kind; ALTER TABLE packages DROP COLUMN summary;"
        " DELETE FROM schema_version WHERE version = 5;";
    const std::string toVersion3 =
        "ALTER TABLE tokens DROP COLUMN field_texts; DROP TABLE audit;"
        " DELETE FROM schema_version WHERE version = 4;";
    const struct {
        int64_t version;
        std::string sql;
    } cases[] = {{4, toVersion4}, {3, toVersion4 + toVersion3}};
    for (const auto& c : cases) {
        SCOPED_TRACE("version " + std::to_string(c.version));
        ScratchFolder scratch;
        const std::string data = scratch.Path("data");
        const std::string package = CollectPackage(ReliabilityDevice("", 20000), "before");
        const std::string sha = Sha256Hex(package);
        std::string token;
        {
            DeskProcess desk(data);
            ASSERT_GT(desk.Port(), 0);
            token = desk.AdminToken();
            httplib::Client client("127.0.0.1", desk.Port());
            client.set_bearer_token_auth(desk.AdminToken().c_str());
            ASSERT_EQ(
                client
                    .Put(("/api/v1/packages/" + sha).c_str(), package, "application/octet-stream")
                    ->status,
                201);
        }
        // PostgreSQL keeps the audit log's trigger function apart from its table.
        const bool postgres = desk::IsPostgresLocation(TestBackends::Get().Catalogue(data));
        ASSERT_TRUE(TestBackends::Get().Execute(
            data,
            c.sql + (postgres && c.version < 4 ? " DROP FUNCTION audit_append_only();" : "")));
        ASSERT_EQ(TestBackends::Get().Number(data, "SELECT max(version) FROM schema_version"),
                  c.version);
        DeskProcess desk(data);
        ASSERT_GT(desk.Port(), 0);
        EXPECT_EQ(TestBackends::Get().Number(data, "SELECT max(version) FROM schema_version"),
                  desk::kCatalogueVersion);
        httplib::Client client("127.0.0.1", desk.Port());
        client.set_bearer_token_auth(token.c_str());
        const Json history = Json::parse(client.Get("/api/v1/units/1234/history")->body);
        ASSERT_TRUE(history["visits"].is_array()) << history.dump();
        ASSERT_EQ(history["visits"].size(), 1u) << history.dump();
        EXPECT_EQ(history["visits"][0]["kind"], "package");
        EXPECT_EQ(history["visits"][0]["valid"], true);
        EXPECT_EQ(client.Get(("/api/v1/packages/" + sha).c_str())->status, 200);
        EXPECT_EQ(client.Get(("/api/v1/recordings/" + sha).c_str())->status, 404);
        // The migrated catalogue has the audit log, and the read above is in it.
        EXPECT_EQ(TestBackends::Get().Number(
                      data, "SELECT count(*) FROM audit WHERE action = 'read-report'"),
                  1);
    }
}

// The bounds around a replay, with stand-ins for the child that misbehave as a hostile recording
// could make it: each is stopped and refused with the reason, and leaves no folder behind.
TEST(RecordingReplay, ChildThatMisbehavesIsStoppedAndCleanedUp) {
    ScratchFolder scratch;
    MakeFolder(scratch.Path("tmp"));
    const char* saved = std::getenv("TMPDIR");
    const std::string before = saved != nullptr ? saved : "";
    setenv("TMPDIR", scratch.Path("tmp").c_str(), 1);
    const std::string recording = scratch.Path("any.ztr");
    WriteAll(recording, ToBytes("PV730ZT1"));
    const struct {
        const char* name;
        std::string script;
        std::string error;  // empty: a summary comes back
    } cases[] = {
        {"hangs", "exec sleep 600", "its replay did not end within 1 s"},
        {"hangs in a grandchild", "sleep 600 & wait", "its replay did not end within 1 s"},
        {"talks without end", "exec yes", "its replay showed more than 4194304 bytes"},
        {"killed", "kill -KILL $$", "its replay was stopped by signal 9"},
        {"fails", "echo cannot load it >&2; exit 1", "cannot load it"},
        {"prints no summary", "echo '[1, 2]'", "[1, 2]"},
        {"replays", R"(echo '{"outcome":"failed","messages":["a"],"phase":"log"}')", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string program = scratch.Path("child.sh");
        std::remove(program.c_str());
        WriteAll(program, ToBytes("#!/bin/sh\n" + c.script + "\n"));
        chmod(program.c_str(), 0755);
        desk::RecordingSummary summary;
        std::string error;
        EXPECT_EQ(desk::ReplayRecording(program, recording, &summary, &error, 1), c.error.empty());
        if (!c.error.empty()) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        } else {
            EXPECT_EQ(error, "");
            EXPECT_EQ(summary.messages, std::vector<std::string>{"a"});
            EXPECT_EQ(summary.phase, "log");
        }
        std::vector<FolderEntry> left;
        ASSERT_TRUE(ListFolder(scratch.Path("tmp"), &left, &error));
        EXPECT_TRUE(left.empty()) << left.front().name;
        EXPECT_TRUE(PathExists(recording)) << "the received file is the intake's to remove";
    }
    if (saved != nullptr) {
        setenv("TMPDIR", before.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
}

}  // namespace
}  // namespace trawler::testing
