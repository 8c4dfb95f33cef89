// trawler-cli send against the real trawler-desk on 127.0.0.1, and against a stub desk that
// fails in the ways a network does, to see what is retried and what is not.
#include <httplib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/send_command.h"
#include "desk/desk_commands.h"
#include "desk_harness.h"
#include "output/redaction.h"

namespace trawler::testing {
namespace {

struct SendRun {
    int code;
    std::string out;
    std::string err;
    std::vector<std::chrono::milliseconds> pauses;
};

// A send with short pauses that are counted rather than slept through.
SendRun Send(const std::vector<std::string>& args) {
    SendPolicy policy;
    policy.firstPause = std::chrono::milliseconds(10);
    policy.connectTimeoutSeconds = 5;
    policy.transferTimeoutSeconds = 1;
    SendRun run;
    policy.pause = [&run](std::chrono::milliseconds p) { run.pauses.push_back(p); };
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    run.code = RunSendWith(args, out, err, policy);
    run.out = ReadBack(out);
    run.err = ReadBack(err);
    return run;
}

// A loopback port that nothing listens on: one the system just handed out and took back.
int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

std::string Write(const ScratchFolder& scratch, const std::string& name, const std::string& bytes) {
    WriteAll(scratch.Path(name), ToBytes(bytes));
    return scratch.Path(name);
}

// Every answer the desk gives a technician, on one desk: the line, the exit status, no retry
// of a refusal, the token never shown, and the bytes and fields that arrived.
TEST(CliSend, SaysWhatTheDeskAnsweredForEachFile) {
    ScratchFolder scratch;
    const std::string good = CollectPackage(ReliabilityDevice("", 20000), "sent");
    const std::string damaged = good.substr(0, good.size() / 2);
    const std::string goodPath = Write(scratch, "good.zlg", good);
    const std::string big = good + std::string(12 << 20, 'x');
    DeskProcess desk(scratch.Path("data"));
    ASSERT_GT(desk.Port(), 0);
    CommandResult added =
        RunDeskCommand({"token", "add", "--data", scratch.Path("data"), "--role", "upload", "van"});
    const std::string token = added.out.substr(0, added.out.find('\n'));
    const std::string url = "http://127.0.0.1:" + std::to_string(desk.Port());
    const std::vector<std::string> withToken = {"--desk", url, "--token", token};

    struct Case {
        const char* name;
        std::vector<std::string> args;
        int code;
        std::string line;  // the start of the first line
    };
    const Case cases[] = {
        {"new",
         {goodPath, "--ticket", "SR 1042/ä&x=1", "--technician", "mika"},
         0,
         "added\t" + Sha256Hex(good) + "\tvalid\t"},
        {"again, token from the environment",
         {goodPath, "--desk", url + "/"},
         0,
         "already\t" + Sha256Hex(good) + "\tvalid\t"},
        {"damaged",
         {Write(scratch, "damaged.zlg", damaged)},
         0,
         "added\t" + Sha256Hex(damaged) + "\tdamaged: "},
        {"not a package",
         {Write(scratch, "notes.txt", "hello")},
         1,
         "refused\t" + Sha256Hex("hello") + "\tHTTP 415: not a Trawler package"},
        {"no such file", {scratch.Path("none.zlg")}, 2, "failed\t-\tcannot read it: "},
        // Far more than the connection's buffers hold: the desk must read what it refused
        // unread, or the client sees a reset connection instead of the answer.
        {"wrong token",
         {Write(scratch, "big.zlg", big), "--desk", url, "--token", "not-mine"},
         1,
         "refused\t" + Sha256Hex(big) + "\tHTTP 401: the token is not valid"},
        {"not http", {goodPath, "--desk", "ftp://127.0.0.1/", "--token", token}, 2, ""},
        {"credentials in the URL",
         {goodPath, "--desk", "http://a:b@127.0.0.1/", "--token", token},
         2,
         ""},
    };
    setenv("TRAWLER_DESK_TOKEN", token.c_str(), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = c.args;
        if (std::find(args.begin(), args.end(), "--desk") == args.end()) {
            args.insert(args.end(), withToken.begin(), withToken.end());
        }
        SendRun run = Send(args);
        EXPECT_EQ(run.code, c.code) << run.out << run.err;
        EXPECT_EQ(run.out.compare(0, c.line.size(), c.line), 0) << run.out;
        if (c.line.empty()) {
            EXPECT_NE(run.err.find("usage: trawler-cli send"), std::string::npos);
        }
        EXPECT_TRUE(run.pauses.empty());
        EXPECT_EQ((run.out + run.err).find(token), std::string::npos);
    }
    unsetenv("TRAWLER_DESK_TOKEN");

    auto reader = std::make_unique<httplib::Client>("127.0.0.1", desk.Port());
    reader->set_bearer_token_auth(desk.AdminToken().c_str());
    auto original = reader->Get(("/api/v1/packages/" + Sha256Hex(good) + "/original").c_str());
    ASSERT_TRUE(original);
    EXPECT_TRUE(original->body == good);
    auto object = reader->Get(("/api/v1/packages/" + Sha256Hex(good)).c_str());
    ASSERT_TRUE(object);
    nlohmann::json j = nlohmann::json::parse(object->body, nullptr, false);
    EXPECT_EQ(j["ticket"], "SR 1042/ä&x=1");
    EXPECT_EQ(j["technician"], "mika");
}

// What fails now may work later and is tried again, from the first byte, a bounded number of
// times; what cannot work is given up at once.
TEST(CliSend, RetriesOnlyWhatMayWorkLater) {
    ScratchFolder scratch;
    const std::string package = std::string("PV730LZ1") + std::string(300000, 'x');
    const std::string path = Write(scratch, "p.zlg", package);
    const std::string sha = Sha256Hex(package);
    const auto ms = [](int n) { return std::chrono::milliseconds(n); };

    enum class Fault { k503Once, kSilentOnce, kNotTheDesk, kClosedPort };
    struct Case {
        const char* name;
        Fault fault;
        int code;
        std::string line;
        std::vector<std::chrono::milliseconds> pauses;
    } cases[] = {
        {"503 once", Fault::k503Once, 0, "added\t" + sha + "\tvalid\t", {ms(10)}},
        {"silent past the time-out once", Fault::kSilentOnce, 0, "added\t" + sha, {ms(10)}},
        {"a page that is not the desk's",
         Fault::kNotTheDesk,
         2,
         "failed\t" + sha + "\tHTTP 200",
         {}},
        {"nothing listening",
         Fault::kClosedPort,
         2,
         "failed\t" + sha + "\tthe desk was not reached (after 4 tries): ",
         {ms(10), ms(20), ms(40)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<int> requests{0};
        std::atomic<int> wholeBodies{0};
        httplib::Server stub;
        stub.Put("/api/v1/packages/([0-9a-f]+)", [&](const httplib::Request& req,
                                                     httplib::Response& res,
                                                     const httplib::ContentReader& reader) {
            const int n = ++requests;
            std::string body;
            reader([&body](const char* data, size_t size) {
                body.append(data, size);
                return true;
            });
            if (Sha256Hex(body) == std::string(req.matches[1])) ++wholeBodies;
            if (n == 1 && c.fault == Fault::kSilentOnce) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2500));
            }
            if (n == 1 && c.fault == Fault::k503Once) {
                res.status = 503;
                res.set_content("{\"error\":\"busy\"}", "application/json");
            } else if (c.fault == Fault::kNotTheDesk) {
                res.status = 200;
                res.set_content("<html>welcome</html>", "text/html");
            } else {
                res.status = 201;
                res.set_content(
                    nlohmann::json{{"sha256", std::string(req.matches[1])}, {"valid", true}}.dump(),
                    "application/json");
            }
        });
        std::thread serving;
        int port = FreePort();
        if (c.fault != Fault::kClosedPort) {
            port = stub.bind_to_any_port("127.0.0.1");
            serving = std::thread([&stub] { stub.listen_after_bind(); });
        }
        ASSERT_GT(port, 0);

        SendRun run =
            Send({path, "--desk", "http://127.0.0.1:" + std::to_string(port), "--token", "t0ken"});
        EXPECT_EQ(run.code, c.code) << run.out << run.err;
        EXPECT_EQ(run.out.compare(0, c.line.size(), c.line), 0) << run.out;
        EXPECT_EQ(run.pauses, c.pauses) << run.err;
        if (c.code == 0) {
            EXPECT_EQ(wholeBodies.load(), requests.load());
        }
        stub.stop();
        if (serving.joinable()) serving.join();
    }
}

// A desk that keeps redacted packages only answers with another digest; the send still knows
// the answer for its package, the first time and on a retry.
TEST(CliSend, TakesARedactingDesksAnswerForItsPackage) {
    ScratchFolder scratch;
    const std::string good = CollectPackage(ReliabilityDevice("", 20000), "sent");
    RedactionKey key;
    std::string error;
    ASSERT_TRUE(key.Generate(&error) && key.WriteNew(scratch.Path("desk.key"), &error)) << error;
    DeskProcess desk(scratch.Path("data"), {"--redact-key", scratch.Path("desk.key")});
    ASSERT_GT(desk.Port(), 0);
    const std::vector<std::string> args = {Write(scratch, "good.zlg", good), "--desk",
                                           "http://127.0.0.1:" + std::to_string(desk.Port()),
                                           "--token", desk.AdminToken()};
    for (const std::string line : {"added\t", "already\t"}) {
        SendRun run = Send(args);
        EXPECT_EQ(run.code, 0) << run.out << run.err;
        EXPECT_EQ(run.out.rfind(line + Sha256Hex(good) + "\tvalid\t", 0), 0u) << run.out;
    }
}

}  // namespace
}  // namespace trawler::testing
