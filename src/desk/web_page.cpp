// Serving the web page. Every answer carries headers that keep the browser from running
// anything but the page's own files: data shown on the page can never become script, even if
// a bug let it in as markup.
#include "desk/web_page.h"

#include <httplib.h>

#include <cstring>
#include <string>

namespace trawler::desk {

namespace {

// Only the page's own files may be loaded; no inline script or style, no framing, no plugins.
constexpr char kPolicy[] =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; font-src 'self'; object-src 'none'; base-uri 'none'; "
    "form-action 'self'; frame-ancestors 'none'";

const char* ContentTypeOf(const std::string& path) {
    struct Type {
        const char* suffix;
        const char* type;
    };
    static const Type kTypes[] = {
        {".html", "text/html; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".svg", "image/svg+xml"},
    };
    for (const Type& t : kTypes) {
        const size_t n = std::strlen(t.suffix);
        if (path.size() >= n && path.compare(path.size() - n, n, t.suffix) == 0) return t.type;
    }
    return "application/octet-stream";
}

const WebAsset* FindAsset(const std::string& path) {
    const std::string wanted = path == "/" ? "/index.html" : path;
    for (size_t i = 0; i < kWebAssetCount; ++i) {
        if (wanted == kWebAssets[i].path) return &kWebAssets[i];
    }
    return nullptr;
}

void ServeAsset(const httplib::Request& req, httplib::Response& res) {
    res.set_header("Content-Security-Policy", kPolicy);
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
    // The page changes with the executable; a browser asks again rather than keep an old one.
    res.set_header("Cache-Control", "no-cache");
    const WebAsset* asset = FindAsset(req.path);
    if (asset == nullptr) {
        res.status = 404;
        res.set_content("no such page: " + req.path + "\n", "text/plain; charset=utf-8");
        return;
    }
    res.status = 200;
    res.set_content(reinterpret_cast<const char*>(asset->bytes), asset->size,
                    ContentTypeOf(asset->path));
}

}  // namespace

void AddWebPage(httplib::Server& server) {
    // Everything outside /api/ is the page's; the API keeps its own JSON answers.
    server.Get("/(?!api/).*", ServeAsset);
}

}  // namespace trawler::desk
