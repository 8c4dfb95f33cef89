// The desk's HTTP API under /api/v1/: a table of routes, each parsing, authorising, calling the
// intake or the catalogue, and answering JSON.
#pragma once

#include <cstdint>
#include <string>

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
};

// Adds the routes to the server; the context must outlive it.
void AddDeskRoutes(httplib::Server& server, const DeskContext& context);

}  // namespace trawler::desk
