#include "serve.h"

#include <fcntl.h>
#include <json/reader.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "net.h"

extern char** environ;

namespace {

std::string Base64(const std::string& in) {
  static const char abc[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(in[i]) << 16;
    if (i + 1 < in.size()) v |= static_cast<unsigned char>(in[i + 1]) << 8;
    if (i + 2 < in.size()) v |= static_cast<unsigned char>(in[i + 2]);
    out += abc[(v >> 18) & 63];
    out += abc[(v >> 12) & 63];
    out += i + 1 < in.size() ? abc[(v >> 6) & 63] : '=';
    out += i + 2 < in.size() ? abc[v & 63] : '=';
  }
  return out;
}

}  // namespace

bool ServeFixture::Start(const std::string& serveScript, const std::string& cgi,
                         const std::string& dir, std::string* log) {
  std::string install = "mkdir -p '" + dir + "/ui' && cp '" + cgi + "' '" + dir +
                        "/ui/svn.cgi'";
  if (system(install.c_str()) != 0) return false;
  web_ = net::FreePort();
  svn_ = net::FreePort();
  std::string web = std::to_string(web_), svn = std::to_string(svn_);
  const char* argv[] = {"bash", serveScript.c_str(), "--package-dir", dir.c_str(),
                        "--port", web.c_str(), "--svn-port", svn.c_str(), nullptr};
  setenv("SVN_ADMIN_PASSWORD", kPassword, 1);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  std::string logPath = dir + "/serve.log";
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, logPath.c_str(), O_WRONLY | O_CREAT, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  bool ok = posix_spawnp(&serve_, "bash", &fa, &attr, const_cast<char**>(argv),
                         environ) == 0;
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  ok = ok && net::WaitFor(web_, true) && net::WaitFor(svn_, true);
  if (!ok && log != nullptr) {
    std::ifstream f(logPath);
    std::stringstream text;
    text << f.rdbuf();
    *log = text.str();
  }
  return ok;
}

void ServeFixture::Stop(bool group) {
  if (serve_ <= 0) return;
  kill(group ? -serve_ : serve_, SIGTERM);
  waitpid(serve_, nullptr, 0);
  serve_ = 0;
}

ServeFixture::Response ServeFixture::Post(const Params& params, bool auth,
                                          const std::string& headers) const {
  Response r;
  std::string body = FormEncode(params);
  std::string request = "POST /svn.cgi HTTP/1.0\r\nHost: 127.0.0.1:" +
                        std::to_string(web_) +
                        "\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                        "Content-Length: " + std::to_string(body.size()) + "\r\n";
  if (auth) request += "Authorization: Basic " + Base64(std::string("admin:") + kPassword) + "\r\n";
  request += headers + "\r\n" + body;
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = net::Loopback(web_);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return r;
  }
  size_t sent = 0;
  while (sent < request.size()) {
    ssize_t n = write(fd, request.data() + sent, request.size() - sent);
    if (n <= 0) break;
    sent += n;
  }
  std::string raw;
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) raw.append(buf, n);
  close(fd);
  if (sscanf(raw.c_str(), "HTTP/1.%*d %d", &r.code) != 1) r.code = 0;
  size_t split = raw.find("\r\n\r\n");
  r.body = split == std::string::npos ? "" : raw.substr(split + 4);
  Json::Reader().parse(r.body, r.json);
  return r;
}
