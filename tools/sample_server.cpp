// tarnvelox-sample-server: a tiny loopback web server for the sample site that ./run harvests.
//
//   tarnvelox-sample-server FOLDER PORT
//
// Serves the files under FOLDER on 127.0.0.1:PORT (0: the system picks a port) and prints the
// port on the first line of standard output. One connection at a time; every answer is
// HTTP/1.0 with Content-Length and Last-Modified, and the connection is closed after it.
// Only GET and HEAD are understood; paths with ".." are refused. Runs until killed.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

std::string http_date(std::time_t t) {
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return buf;
}

std::string content_type(const std::string& path) {
    auto ends = [&](const char* ext) {
        const std::size_t n = std::strlen(ext);
        return path.size() >= n && path.compare(path.size() - n, n, ext) == 0;
    };
    if (ends(".html") || ends(".htm")) return "text/html";
    if (ends(".txt")) return "text/plain";
    if (ends(".css")) return "text/css";
    if (ends(".png")) return "image/png";
    if (ends(".jpg") || ends(".jpeg")) return "image/jpeg";
    return "application/octet-stream";
}

void send_all(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

std::string answer(int code, const char* reason, const std::string& type, const std::string& body,
                   std::time_t modified, bool head) {
    std::ostringstream out;
    out << "HTTP/1.0 " << code << ' ' << reason << "\r\n"
        << "Server: tarnvelox-sample-server\r\n"
        << "Date: " << http_date(std::time(nullptr)) << "\r\n"
        << "Content-Type: " << type << "\r\n"
        << "Content-Length: " << body.size() << "\r\n"
        << "Last-Modified: " << http_date(modified) << "\r\n"
        << "Connection: close\r\n\r\n";
    if (!head) out << body;
    return out.str();
}

void serve_one(int fd, const std::string& root) {
    // Read the request head (up to the blank line, or 16 KB).
    std::string req;
    char buf[2048];
    while (req.find("\r\n\r\n") == std::string::npos && req.find("\n\n") == std::string::npos &&
           req.size() < 16384) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        req.append(buf, static_cast<std::size_t>(n));
    }
    std::istringstream line(req.substr(0, req.find('\n')));
    std::string method, target;
    line >> method >> target;
    const bool head = method == "HEAD";
    const std::time_t now = std::time(nullptr);
    if (method != "GET" && !head) {
        send_all(fd, answer(400, "Bad Request", "text/html", "<h1>400 Bad Request</h1>\n", now,
                            false));
        return;
    }
    // An absolute target (as sent to a proxy) keeps only its path.
    if (target.rfind("http://", 0) == 0) {
        const auto slash = target.find('/', 7);
        target = slash == std::string::npos ? "/" : target.substr(slash);
    }
    target = target.substr(0, target.find_first_of("?#"));
    if (target.empty() || target[0] != '/' || target.find("..") != std::string::npos) {
        send_all(fd, answer(404, "Not Found", "text/html", "<h1>404 Not Found</h1>\n", now, head));
        return;
    }
    std::string path = root + target;
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        path += path.back() == '/' ? "index.html" : "/index.html";
    }
    std::ifstream in(path, std::ios::binary);
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !in) {
        send_all(fd, answer(404, "Not Found", "text/html", "<h1>404 Not Found</h1>\n", now, head));
        return;
    }
    std::ostringstream body;
    body << in.rdbuf();
    send_all(fd, answer(200, "OK", content_type(path), body.str(), st.st_mtime, head));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: tarnvelox-sample-server FOLDER PORT\n";
        return 2;
    }
    const std::string root = argv[1];
    char* end = nullptr;
    const long port = std::strtol(argv[2], &end, 10);
    if (end == argv[2] || *end != '\0' || port < 0 || port > 65535) {
        std::cerr << "tarnvelox-sample-server: bad port '" << argv[2] << "'\n";
        return 2;
    }
    struct stat st{};
    if (::stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::cerr << "tarnvelox-sample-server: '" << root << "' is not a folder\n";
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listener < 0) {
        std::perror("tarnvelox-sample-server: socket");
        return 1;
    }
    const int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 64) != 0) {
        std::perror("tarnvelox-sample-server: bind");
        return 1;
    }
    socklen_t len = sizeof addr;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    std::cout << ntohs(addr.sin_port) << std::endl;

    for (;;) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) continue;
        serve_one(fd, root);
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
    }
}
