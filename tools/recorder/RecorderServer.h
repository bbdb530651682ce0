#pragma once

#include <memory>
#include <string>

namespace pom::recorder {

class Store;

struct ServerConfig {
    std::string host = "127.0.0.1";
    int port = 8080;  // 0: any free port
    std::string key;  // empty: no key needed
    int threads = 16;
};

// The HTTP side: the posts of the uploader and the pages, served from its
// own thread and a pool of workers. httplib stays inside RecorderServer.cpp.
class Server {
public:
    Server(Store& store, ServerConfig config);
    ~Server();  // Stop()
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds and starts serving. The port bound, or -1 with the reason in *error.
    int Start(std::string* error);
    // Stops taking connections, lets the requests in progress finish, joins.
    void Stop();
    int port() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace pom::recorder
