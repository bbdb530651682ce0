#pragma once

#include <functional>
#include <memory>
#include <string>

#include "tools/recorder/RecorderConnections.h"

namespace pom::recorder {

class Store;

struct ServerConfig {
    std::string host = "127.0.0.1";
    int port = 8080;      // 0: any free port
    std::string key;      // empty: no key needed
    int threads = 16;     // page workers
    int postThreads = 4;  // workers of their own for the stations' posts
    ConnectionLimits limits = {};
    std::function<void(int socket)> onAccept = {};  // tests: sees each accepted socket
};

// The HTTP side: the posts of the uploader and the pages. Connections are
// read by RecorderConnections; httplib, inside RecorderServer.cpp, answers
// each complete request.
class Server {
public:
    Server(Store& store, ServerConfig config);
    ~Server();  // Stop()
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds and starts serving. The port bound, or -1 with the reason in *error.
    int Start(std::string* error);
    // Stops taking connections, lets the requests in progress finish, cuts off
    // clients that are still sending or not reading, joins; within a second.
    void Stop();
    int port() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace pom::recorder
