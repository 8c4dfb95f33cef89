// The real trawler-desk for the desk's tests: a server process on 127.0.0.1 with its own data
// folder, a raw socket for requests no polite client makes, and packages from the emulator.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <libpq-fe.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "desk/catalogue.h"
#include "desk/desk_commands.h"
#include "desk/sqlite_db.h"
#include "desk/store.h"
#include "platform/sha256.h"
#include "support/reliability_harness.h"

namespace trawler::testing {

// The backends the desk's tests run on, chosen here only. TRAWLER_TEST_CATALOGUE unset: each
// data folder's own SQLite file. Set to a PostgreSQL URL (postgresql://USER@HOST:PORT/DB): a
// database of its own on that server for each data folder, made on first use and dropped when
// the test program ends. TRAWLER_TEST_STORE unset: the data folder's own store folder; set
// (tests/desk/with-s3 sets it): that bucket, under a prefix of the data folder's own so that
// tests running side by side never see each other's objects. Either may be set without the
// other.
class TestBackends {
  public:
    static TestBackends& Get() {
        static TestBackends backends;
        return backends;
    }
    ~TestBackends() {
        for (const auto& [data, name] : m_databases)
            Administer("DROP DATABASE " + name + " WITH (FORCE)");
    }

    // The --catalogue value for the data folder.
    std::string Catalogue(const std::string& data) {
        const char* server = std::getenv("TRAWLER_TEST_CATALOGUE");
        if (server == nullptr || *server == '\0') return data + "/catalogue.db";
        std::lock_guard<std::mutex> lock(m_mutex);
        std::string& name = m_databases[data];
        if (name.empty()) {
            name =
                "desk_test_" + std::to_string(getpid()) + "_" + std::to_string(m_databases.size());
            EXPECT_TRUE(Administer("CREATE DATABASE " + name)) << "on " << server;
        }
        const std::string url = server;
        const size_t path = url.find('/', url.find("://") + 3);
        return url.substr(0, path) + "/" + name;
    }

    // The --store value for the data folder; empty: its own folder.
    static std::string Store(const std::string& data) {
        const char* location = std::getenv("TRAWLER_TEST_STORE");
        if (location == nullptr || *location == '\0') return std::string();
        const std::string text = location;
        const size_t query = text.find('?');
        Sha256 hash;
        hash.Update(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        return text.substr(0, query) + "/t-" + hash.FinishHex().substr(0, 16) +
               (query == std::string::npos ? "" : text.substr(query));
    }

    // What every trawler-desk command and server of the data folder is given.
    std::vector<std::string> Args(const std::string& data) {
        std::vector<std::string> args;
        const std::string catalogue = Catalogue(data);
        if (desk::IsPostgresLocation(catalogue)) args = {"--catalogue", catalogue};
        const std::string store = Store(data);
        if (!store.empty()) args.insert(args.end(), {"--store", store});
        return args;
    }

    // SQL without results on the data folder's catalogue, for tests that change rows as an
    // older trawler-desk would have left them.
    bool Execute(const std::string& data, const std::string& sql) {
        const std::string catalogue = Catalogue(data);
        if (!desk::IsPostgresLocation(catalogue)) {
            desk::Database db;
            return db.Open(catalogue) && db.Execute(sql.c_str());
        }
        return Run(catalogue, sql);
    }

    // The first column of the first row of a query on the data folder's catalogue; -1 on failure.
    int64_t Number(const std::string& data, const std::string& sql) {
        const std::string catalogue = Catalogue(data);
        int64_t number = -1;
        if (!desk::IsPostgresLocation(catalogue)) {
            desk::Database db;
            if (!db.Open(catalogue)) return -1;
            desk::Statement s(db, sql.c_str());
            if (s.Step()) number = s.Int(0);
            return number;
        }
        PGconn* connection = PQconnectdb(catalogue.c_str());
        PGresult* result = PQexec(connection, sql.c_str());
        if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) > 0) {
            number = std::strtoll(PQgetvalue(result, 0, 0), nullptr, 10);
        }
        PQclear(result);
        PQfinish(connection);
        return number;
    }

  private:
    static bool Run(const std::string& url, const std::string& sql) {
        PGconn* connection = PQconnectdb(url.c_str());
        PGresult* result = PQexec(connection, sql.c_str());
        const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
        if (!ok) ADD_FAILURE() << sql << ": " << PQerrorMessage(connection);
        PQclear(result);
        PQfinish(connection);
        return ok;
    }
    static bool Administer(const std::string& sql) {
        return Run(std::getenv("TRAWLER_TEST_CATALOGUE"), sql);
    }

    std::mutex m_mutex;
    std::map<std::string, std::string> m_databases;  // data folder -> database
};

// A trawler-desk command run in this process on the backends of its --data folder.
inline CommandResult RunDeskCommand(std::vector<std::string> args) {
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] != "--data") continue;
        const std::vector<std::string> extra = TestBackends::Get().Args(args[i + 1]);
        args.insert(args.end(), extra.begin(), extra.end());
        break;
    }
    return RunCommand(desk::RunDesk, args);
}

// A stored package as a local file, read through the store the desk used.
inline bool FetchStored(const std::string& data, const std::string& sha256,
                        desk::StoredCopy* copy) {
    std::string error;
    std::unique_ptr<desk::Store> store = desk::OpenStore(TestBackends::Store(data), data, &error);
    const bool ok = store && store->Fetch(sha256, copy, &error);
    EXPECT_TRUE(ok) << error;
    return ok;
}

// One trawler-desk serve process. Its first lines (the admin token on a new data folder, the
// address) are read before the constructor returns.
class DeskProcess {
  public:
    DeskProcess(const std::string& data, const std::vector<std::string>& extra = {}) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0) return;
        std::vector<std::string> args = {TRAWLER_DESK_EXE, "serve",      "--data", data,
                                         "--listen",       "127.0.0.1:0"};
        const std::vector<std::string> backends = TestBackends::Get().Args(data);
        args.insert(args.end(), backends.begin(), backends.end());
        args.insert(args.end(), extra.begin(), extra.end());
        m_pid = fork();
        if (m_pid == 0) {
            dup2(pipeFds[1], STDOUT_FILENO);
            close(pipeFds[0]);
            close(pipeFds[1]);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(pipeFds[1]);
        m_out = pipeFds[0];
        const std::string listening = "trawler-desk: listening on http://127.0.0.1:";
        const std::string token = "admin token (shown once): ";
        for (std::string line; ReadLine(&line);) {
            m_lines.push_back(line);
            if (line.compare(0, token.size(), token) == 0) m_adminToken = line.substr(token.size());
            if (line.compare(0, listening.size(), listening) == 0) {
                m_port = std::stoi(line.substr(listening.size()));
                break;
            }
        }
    }
    ~DeskProcess() { Stop(SIGTERM); }
    DeskProcess(const DeskProcess&) = delete;
    DeskProcess& operator=(const DeskProcess&) = delete;

    int Port() const { return m_port; }
    const std::string& AdminToken() const { return m_adminToken; }
    const std::vector<std::string>& Lines() const { return m_lines; }

    // Ends the process with the signal and waits for it; its exit status, or -1.
    int Stop(int signal) {
        if (m_pid <= 0) return -1;
        kill(m_pid, signal);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        if (m_out >= 0) close(m_out);
        m_out = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    // A line of the server's output, waiting at most 30 s for it.
    bool ReadLine(std::string* line) {
        line->clear();
        for (char c;;) {
            pollfd p{m_out, POLLIN, 0};
            if (poll(&p, 1, 30000) <= 0 || read(m_out, &c, 1) != 1) return false;
            if (c == '\n') return true;
            line->push_back(c);
        }
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_port = 0;
    std::string m_adminToken;
    std::vector<std::string> m_lines;
};

// A plain TCP connection to the server, for partial bodies and declared lengths.
class RawConnection {
  public:
    explicit RawConnection(int port) {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval timeout{30, 0};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        if (connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(m_fd);
            m_fd = -1;
        }
    }
    ~RawConnection() {
        if (m_fd >= 0) close(m_fd);
    }
    bool Send(const std::string& bytes) {
        for (size_t done = 0; done < bytes.size();) {
            ssize_t n = send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }
    // Everything the server sends until it closes (or 30 s pass).
    std::string ReadToClose() {
        std::string text;
        char block[4096];
        for (ssize_t n; (n = recv(m_fd, block, sizeof block, 0)) > 0;) text.append(block, n);
        return text;
    }

  private:
    int m_fd = -1;
};

inline std::string BytesText(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

inline std::string Sha256Hex(const std::string& bytes) {
    Sha256 hash;
    hash.Update(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return hash.FinishHex();
}

// A package collected from an emulated PV-730 of unit 1234, as the wizard saves it.
inline std::string CollectPackage(const DeviceDescription& device, const std::string& comment) {
    ReliabilityRun<> run(device, DefaultLinkSettings());
    run.run.m_strComment = comment;
    EXPECT_TRUE(run.Run().Saved());
    return BytesText(ReadAll(run.session.m_strSavedPath));
}

// The files in a folder and its subfolders, as paths relative to it.
inline std::vector<std::string> FilesUnder(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file()) {
            files.push_back(std::filesystem::relative(it->path(), folder).string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The store's files as paths relative to DIR/store, laid out as the folder store keeps them;
// for an object store, its objects under the same names beside the files of DIR/store/tmp.
inline std::vector<std::string> StoredFiles(const std::string& data) {
    std::vector<std::string> files = FilesUnder(data + "/store");
    const std::string location = TestBackends::Store(data);
    if (location.empty()) return files;
    std::string error;
    std::vector<std::string> objects;
    std::unique_ptr<desk::Store> store = desk::OpenStore(location, data, &error);
    EXPECT_TRUE(store && store->List(&objects, &error)) << error;
    for (const std::string& sha256 : objects) {
        files.push_back(desk::Store::RelativePathOf(sha256).substr(6));
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace trawler::testing
