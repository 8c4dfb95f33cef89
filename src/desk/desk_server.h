// The desk's HTTP API under /api/v1/: a table of routes, each parsing, authorising, calling the
// intake or the catalogue, and answering JSON.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace httplib {
class Server;
}

namespace trawler::desk {

class Intake;
class Store;

struct DeskContext {
    std::string catalogue;  // a file's path or a PostgreSQL URL
    Store* store = nullptr;
    Intake* intake = nullptr;
    // Whether a request's address for the audit log is taken from X-Forwarded-For (set by a
    // proxy in front of the desk) rather than from its connection.
    bool trustProxy = false;
};

// A route of the API as the server's table has it: the method, and the path below /api/v1/
// with a {name} for each part taken from the URL ({sha256}, {unit}); and the query it reads
// ({sha256} again for a package named in it). Tests walk this table.
struct DeskRoute {
    const char* method;
    const char* path;
    const char* query;
};
std::vector<DeskRoute> DeskRoutes();

// Adds the routes to the server; the context must outlive it.
void AddDeskRoutes(httplib::Server& server, const DeskContext& context);

}  // namespace trawler::desk
