// An HTTP client of a desk under test, and its answers' JSON.
#pragma once

#include <httplib.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "desk_harness.h"

namespace trawler::testing {

// A client of the desk on loopback, with the token when one is given.
inline std::unique_ptr<httplib::Client> Client(const DeskProcess& desk, const std::string& token) {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", desk.Port());
    client->set_read_timeout(30, 0);
    if (!token.empty()) client->set_bearer_token_auth(token.c_str());
    return client;
}

// The answer's body as JSON; discarded (not an object) when there was no answer or no JSON.
inline nlohmann::json Body(const httplib::Result& r) {
    return r ? nlohmann::json::parse(r->body, nullptr, false) : nlohmann::json();
}

}  // namespace trawler::testing
