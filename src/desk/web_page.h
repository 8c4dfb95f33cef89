// The desk's web page: static files built into the executable and served beside the API.
#pragma once

#include <cstddef>

namespace httplib {
class Server;
}

namespace trawler::desk {

// One file of the page, its URL path and bytes (generated from src/desk/web/ at build time).
struct WebAsset {
    const char* path;
    const unsigned char* bytes;
    size_t size;
};
extern const WebAsset kWebAssets[];
extern const size_t kWebAssetCount;

// Serves "/" and the page's files; any other path outside /api/ gets 404.
void AddWebPage(httplib::Server& server);

}  // namespace trawler::desk
