// What the desk tells whom: the customer, comment and PC texts only to tokens with the
// field-texts right, on every route and page; and the audit log of who read what, from where.
#include <httplib.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "cli/collect_command.h"
#include "desk/desk_server.h"
#include "desk/web_page.h"
#include "desk_client.h"
#include "desk_harness.h"
#include "output/package_report.h"
#include "output/ansi_text.h"
#include "output/package_reader.h"
#include "output/package_redact.h"
#include "output/redaction.h"
#include "platform/file_ops.h"
#include "platform/console_host.h"

namespace trawler::testing {
namespace {

using Json = nlohmann::json;

constexpr char kOctets[] = "application/octet-stream";
constexpr int64_t kUnit = 1234;

// A visit of unit 1234 whose three texts are its own, with characters that JSON escapes.
std::string CollectVisit(int visit) {
    DeviceDescription device = ReliabilityDevice("", 20000 + 1000 * visit);
    device.clock[5] = static_cast<uint8_t>(0x10 + visit);
    ReliabilityRun<> run(device, DefaultLinkSettings());
    const std::string n = std::to_string(visit);
    run.run.m_strCustomer = "Hotel \"Aurora\" " + n + " \\ Nordhafen";
    run.run.m_strComment = "fuser noise\tvisit " + n + "\nafter <b>lunch</b>";
    run.host.version.servicePack = "Service Pack Nordhafen-Rezeption-" + n;
    EXPECT_TRUE(run.Run().Saved());
    return BytesText(ReadAll(run.session.m_strSavedPath));
}

// A recording of a saved run of unit 1234, as collect --record makes it: it names the printer
// and holds what the printer answered.
std::string RecordRun(ScratchFolder& scratch) {
    const std::string device = scratch.Path("recorded.json");
    WriteAll(device, ToBytes(R"({"printers": [{"name": "PV-730 Rezeption"}], "faults": []})"));
    MakeFolder(scratch.Path("recorded"));
    const std::string recording = scratch.Path("recorded.ztr");
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int code = RunCollect({"--folder", scratch.Path("recorded"), "--device", device,
                                 "--record", recording, "--progress", "none", "--setting",
                                 "WaitAfterSendMillisec=1", "--setting", "ReadWaitMillisec=1"},
                                out, err);
    ReadBack(out);
    const std::string printed = ReadBack(err);
    EXPECT_EQ(code, 0) << printed;
    return BytesText(ReadAll(recording));
}

// Every form in which each of a package's texts could leave the desk: as stored, as the reader
// converts them, and as JSON writes them (escaped, and escaped down to ASCII).
std::vector<std::vector<std::string>> TextForms(const std::string& package,
                                                ScratchFolder& scratch) {
    const std::string path = scratch.Path("forms.zlg");
    WriteAll(path, ToBytes(package));
    PackageReport report;
    EXPECT_TRUE(ReadPackage(path, &report));
    std::vector<std::vector<std::string>> forms;
    for (const std::string& text : {report.customer, report.comment, report.pcLine}) {
        EXPECT_FALSE(text.empty());
        const std::string utf8 = AnsiToUtf8(text, PackageCodePage(report));
        const std::string escaped = Json(utf8).dump();
        const std::string ascii = Json(utf8).dump(-1, ' ', true);
        forms.push_back(
            {text, utf8, escaped.substr(1, escaped.size() - 2), ascii.substr(1, ascii.size() - 2)});
    }
    return forms;
}

class PrivacyTest : public ::testing::Test {
  protected:
    std::string Data() const { return m_scratch.Path("data"); }

    std::string AddToken(const std::string& role, const std::string& name, bool fieldTexts) {
        std::vector<std::string> args = {"token", "add", "--data", Data(), "--role", role};
        if (fieldTexts) args.push_back("--field-texts");
        args.push_back(name);
        CommandResult r = RunDeskCommand(args);
        EXPECT_EQ(r.code, 0) << r.err;
        return r.out.substr(0, r.out.find('\n'));
    }

    ScratchFolder m_scratch;
};

// Every response of a walk over every route of the server's own table (its {names} filled
// from the two visits, or the recording on a recording's route) and every file of the page, as
// one text per request: status, headers and body.
std::vector<std::string> Walk(const DeskProcess& desk, const std::string& token,
                              const std::vector<std::string>& packages,
                              const std::string& recording) {
    std::vector<std::string> answers;
    httplib::Client client("127.0.0.1", desk.Port());
    client.set_read_timeout(30, 0);
    client.set_bearer_token_auth(token.c_str());
    for (const desk::DeskRoute& route : desk::DeskRoutes()) {
        std::string url = std::string("/api/v1/") + route.path +
                          (*route.query != '\0' ? std::string("?") + route.query : "");
        int shas = 0;
        const bool ofRecording = std::string(route.path).rfind("recordings/", 0) == 0;
        for (size_t open; (open = url.find('{')) != std::string::npos;) {
            const size_t close = url.find('}', open);
            const std::string name = url.substr(open + 1, close - open - 1);
            std::string value;
            if (name == "sha256" && ofRecording) {
                value = Sha256Hex(recording);
            } else if (name == "sha256") {
                value = Sha256Hex(packages[shas++ % packages.size()]);
            } else if (name == "unit") {
                value = std::to_string(kUnit);
            } else {
                ADD_FAILURE() << "the walk cannot fill {" << name << "} of " << route.path
                              << ": teach it that name";
                break;
            }
            url.replace(open, close - open + 1, value);
        }
        const std::string method = route.method;
        if (method != "GET" && method != "PUT") {
            ADD_FAILURE() << "the walk does not know how to send " << method << " " << url;
            continue;
        }
        httplib::Result r =
            method == "GET"
                ? client.Get(url.c_str())
                : client.Put(url.c_str(), ofRecording ? recording : packages[0], kOctets);
        if (!r) {
            ADD_FAILURE() << "no answer to " << method << " " << url;
            continue;
        }
        std::string answer = method + " " + url + " -> " + std::to_string(r->status) + "\n";
        for (const auto& [name, value] : r->headers) answer += name + ": " + value + "\n";
        answers.push_back(answer + "\n" + r->body);
    }
    std::vector<std::string> pages = {"/"};
    for (size_t i = 0; i < desk::kWebAssetCount; ++i) pages.push_back(desk::kWebAssets[i].path);
    for (const std::string& path : pages) {
        httplib::Result r = client.Get(path.c_str());
        EXPECT_TRUE(r && r->status == 200) << path;
        if (r) answers.push_back("GET " + path + "\n" + r->body);
    }
    return answers;
}

// The audit log's lines, without their ids and times: who, action, subject, address.
std::vector<std::string> AuditLines(const std::string& out, std::vector<int64_t>* ids = nullptr) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        const size_t id = line.find('\t');
        const size_t at = line.find('\t', id + 1);
        if (ids != nullptr) ids->push_back(std::stoll(line.substr(0, id)));
        EXPECT_EQ(line.substr(id + 1, at - id - 1).size(), 20u) << line;  // 2026-12-07T13:38:00Z
        lines.push_back(line.substr(at + 1));
    }
    return lines;
}

// A token without the right finds none of the texts in any answer of any route or page, in any
// form; the same walk with the right finds every text in some form, so the walk reaches them.
// Every report and original that walk read, of a package or a recording, is in the audit log.
TEST_F(PrivacyTest, NoRouteOrPageGivesFieldTextsWithoutTheRight) {
    const std::vector<std::string> packages = {CollectVisit(0), CollectVisit(1)};
    const std::string recording = RecordRun(m_scratch);
    std::vector<std::vector<std::string>> texts;
    for (const std::string& p : packages) {
        for (const auto& forms : TextForms(p, m_scratch)) texts.push_back(forms);
    }
    DeskProcess desk(Data());
    ASSERT_GT(desk.Port(), 0);
    for (const std::string& p : packages) {
        ASSERT_EQ(Client(desk, desk.AdminToken())
                      ->Put(("/api/v1/packages/" + Sha256Hex(p)).c_str(), p, kOctets)
                      ->status,
                  201);
    }
    ASSERT_EQ(Client(desk, desk.AdminToken())
                  ->Put(("/api/v1/recordings/" + Sha256Hex(recording)).c_str(), recording, kOctets)
                  ->status,
              201);
    struct Case {
        const char* role;
        bool fieldTexts;
    };
    for (const Case c : {Case{"upload", false}, Case{"viewer", false}, Case{"viewer", true}}) {
        SCOPED_TRACE(std::string(c.role) + (c.fieldTexts ? " with" : " without") + " the right");
        const std::string token = AddToken(
            c.role, std::string(c.role) + (c.fieldTexts ? "-texts" : "-plain"), c.fieldTexts);
        const std::vector<std::string> answers = Walk(desk, token, packages, recording);
        if (c.role == std::string("viewer") && !c.fieldTexts) {
            // The marker in the texts' places; what needs them refused, naming the right.
            auto client = Client(desk, token);
            Json one = Body(client->Get(("/api/v1/packages/" + Sha256Hex(packages[0])).c_str()));
            for (const char* name : {"customer", "comment", "pc"}) {
                EXPECT_EQ(one["texts"][name], "hidden") << name;
            }
            EXPECT_EQ(
                Body(client->Get("/api/v1/packages?text=Aurora"))["error"],
                "searching by customer or comment text needs the field-texts right, which "
                "the token viewer-plain does not have (trawler-desk token add --field-texts)");
        }
        std::string all;
        for (const std::string& a : answers) all += a;
        for (const auto& forms : texts) {
            if (c.fieldTexts) {
                EXPECT_TRUE(std::any_of(
                    forms.begin(), forms.end(),
                    [&all](const std::string& f) { return all.find(f) != std::string::npos; }))
                    << "never shown: " << forms[0];
                continue;
            }
            for (const std::string& form : forms) {
                for (const std::string& answer : answers) {
                    EXPECT_EQ(answer.find(form), std::string::npos)
                        << "shown: " << form << "\nin: " << answer.substr(0, answer.find('\n'));
                }
            }
        }
    }
    const std::vector<std::string> audit =
        AuditLines(RunDeskCommand({"audit", "--data", Data()}).out);
    // The walk reads the first package's report and original, and the recording's.
    for (const std::string& file : {packages[0], recording}) {
        for (const char* action : {"read-report", "download-original"}) {
            const std::string line =
                std::string("viewer-texts\t") + action + "\t" + Sha256Hex(file) + "\t127.0.0.1";
            EXPECT_NE(std::find(audit.begin(), audit.end(), line), audit.end()) << line;
        }
    }
}

// Reads, downloads and token changes each leave one entry, with the address the desk was told
// to believe; the log pages through whole, outlives a purge, and no one changes it.
TEST_F(PrivacyTest, AuditLogRecordsWhoReadWhatFromWhere) {
    const std::string package = CollectVisit(0);
    const std::string sha = Sha256Hex(package);
    std::string admin;
    {
        DeskProcess desk(Data());
        admin = desk.AdminToken();
        ASSERT_EQ(
            Client(desk, admin)->Put(("/api/v1/packages/" + sha).c_str(), package, kOctets)->status,
            201);
        auto reader = Client(desk, AddToken("viewer", "desk-pc", true));
        reader->set_default_headers({{"X-Forwarded-For", "198.51.100.7"}});
        EXPECT_EQ(reader->Get(("/api/v1/packages/" + sha).c_str())->status, 200);
        EXPECT_EQ(reader->Get(("/api/v1/packages/" + sha + "/original").c_str())->status, 200);
        EXPECT_EQ(reader->Get("/api/v1/audit")->status, 403);
    }
    {
        DeskProcess desk(Data(), {"--trust-proxy"});
        auto reader = Client(desk, admin);
        reader->set_default_headers({{"X-Forwarded-For", "198.51.100.7, 203.0.113.9"}});
        EXPECT_EQ(reader->Get(("/api/v1/packages/" + sha).c_str())->status, 200);
        EXPECT_EQ(RunDeskCommand({"token", "revoke", "--data", Data(), "desk-pc"}).code, 0);
        // The API's pages are the command's.
        const Json page = Body(reader->Get("/api/v1/audit?limit=2&after=1"));
        ASSERT_EQ(page["entries"].size(), 2u) << page;
        EXPECT_EQ(page["entries"][0]["id"], 2);
        EXPECT_EQ(page["entries"][1]["action"], "read-report");
        EXPECT_EQ(page["next_after"], 3);
    }
    const std::string console = "\tconsole";
    CommandResult whole = RunDeskCommand({"audit", "--data", Data()});
    ASSERT_EQ(whole.code, 0) << whole.err;
    std::vector<int64_t> ids;
    const std::vector<std::string> lines = AuditLines(whole.out, &ids);
    ASSERT_EQ(lines.size(), 6u) << whole.out;
    EXPECT_EQ(lines[0].substr(lines[0].find('\t')), "\ttoken-add\tadmin (admin)" + console);
    EXPECT_EQ(lines[1].substr(lines[1].find('\t')),
              "\ttoken-add\tdesk-pc (viewer, field-texts)" + console);
    EXPECT_EQ(lines[2], "desk-pc\tread-report\t" + sha + "\t127.0.0.1");
    EXPECT_EQ(lines[3], "desk-pc\tdownload-original\t" + sha + "\t127.0.0.1");
    EXPECT_EQ(lines[4], "admin\tread-report\t" + sha + "\t203.0.113.9");
    EXPECT_EQ(lines[5].substr(lines[5].find('\t')), "\ttoken-revoke\tdesk-pc" + console);
    EXPECT_EQ(ids, (std::vector<int64_t>{1, 2, 3, 4, 5, 6}));

    // Pages of every size put together are the whole log.
    for (int limit = 1; limit <= 7; ++limit) {
        SCOPED_TRACE("limit " + std::to_string(limit));
        std::string pages;
        for (int64_t after = 0;;) {
            CommandResult r =
                RunDeskCommand({"audit", "--data", Data(), "--limit", std::to_string(limit),
                                "--after", std::to_string(after)});
            ASSERT_EQ(r.code, 0) << r.err;
            if (r.out.empty()) break;
            pages += r.out;
            after = std::stoll(r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1));
            ASSERT_LE(pages.size(), whole.out.size());
        }
        EXPECT_EQ(pages, whole.out);
    }
    EXPECT_EQ(RunDeskCommand({"audit", "--data", Data(), "--since", "2999-01-01"}).out, "");

    // No one rewrites it: not the database's own statements, not a purge.
    auto& backends = TestBackends::Get();
    EXPECT_EQ(backends.Number(Data(), "DELETE FROM audit RETURNING id"), -1);
    EXPECT_EQ(backends.Number(Data(), "UPDATE audit SET who = 'nobody' RETURNING id"), -1);
    ASSERT_TRUE(backends.Execute(Data(), "UPDATE packages SET received = '2000-01-01T00:00:00Z'"));
    EXPECT_EQ(RunDeskCommand({"purge", "--data", Data(), "--older-than", "1"}).code, 0);
    EXPECT_EQ(backends.Number(Data(), "SELECT count(*) FROM packages"), 0);
    EXPECT_EQ(RunDeskCommand({"audit", "--data", Data()}).out, whole.out);
}

// A desk told to keep redacted packages only keeps exactly what trawler-cli redact makes with
// its key, by upload and by import alike; a retry of the original finds it; what cannot be
// redacted is refused and not kept.
TEST_F(PrivacyTest, RedactingDeskKeepsTheRedactedFormOnly) {
    const std::string package = CollectVisit(0);
    const std::string sha = Sha256Hex(package);
    const std::string keyPath = m_scratch.Path("desk.key");
    RedactionKey key;
    std::string error;
    ASSERT_TRUE(key.Generate(&error) && key.WriteNew(keyPath, &error)) << error;
    WriteAll(m_scratch.Path("visit.zlg"), ToBytes(package));
    PlaceholderBook book(key);
    ConsoleHost host;
    ASSERT_EQ(RedactPackage(host, m_scratch.Path("visit.zlg"), m_scratch.Path("redacted.zlg"), book,
                            &error),
              RedactOutcome::kWritten)
        << error;
    const std::string redacted = BytesText(ReadAll(m_scratch.Path("redacted.zlg")));
    const std::string kept = Sha256Hex(redacted);
    ASSERT_NE(kept, sha);

    DeskProcess desk(Data(), {"--redact-key", keyPath});
    auto client = Client(desk, desk.AdminToken());
    for (int status : {201, 200}) {
        auto r = client->Put(("/api/v1/packages/" + sha).c_str(), package, kOctets);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, status) << r->body;
        EXPECT_EQ(Body(r)["sha256"], kept);
        EXPECT_EQ(Body(r)["received_sha256"], sha);
    }
    EXPECT_EQ(client->Get(("/api/v1/packages/" + sha).c_str())->status, 404);
    auto original = client->Get(("/api/v1/packages/" + kept + "/original").c_str());
    ASSERT_TRUE(original);
    EXPECT_TRUE(original->body == redacted);
    const std::string damaged = package.substr(0, package.size() / 2);
    auto refused =
        client->Put(("/api/v1/packages/" + Sha256Hex(damaged)).c_str(), damaged, kOctets);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400);
    EXPECT_NE(Body(refused)["error"].get<std::string>().find("cannot be redacted"),
              std::string::npos)
        << refused->body;

    // A recording has no redacted form: refused, and (below) not kept.
    const std::string recording = RecordRun(m_scratch);
    refused =
        client->Put(("/api/v1/recordings/" + Sha256Hex(recording)).c_str(), recording, kOctets);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400);
    EXPECT_EQ(Body(refused)["error"],
              "this desk keeps redacted packages only, and a recording cannot be redacted");

    CommandResult import = RunDeskCommand(
        {"import", "--data", Data(), "--redact", keyPath, m_scratch.Path("visit.zlg")});
    EXPECT_EQ(import.out.rfind("already\t" + kept + "\tvalid\t", 0), 0u)
        << import.out << import.err;
    EXPECT_EQ(StoredFiles(Data()),
              std::vector<std::string>{desk::Store::RelativePathOf(kept).substr(6)});
}

}  // namespace
}  // namespace trawler::testing
