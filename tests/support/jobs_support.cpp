#include "jobs_support.h"

#include <archive.h>
#include <archive_entry.h>
#include <json/reader.h>
#include <locale.h>
#include <openssl/evp.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "net.h"

extern char** environ;

namespace jobs {

namespace {

la_ssize_t Append(struct archive*, void* out, const void* data, size_t size) {
  static_cast<std::string*>(out)->append(static_cast<const char*>(data), size);
  return static_cast<la_ssize_t>(size);
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string Output(const std::string& command, int* status = nullptr) {
  std::string text;
  FILE* out = popen(command.c_str(), "r");
  if (out == nullptr) return text;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, out)) > 0;) text.append(buf, n);
  int rc = pclose(out);
  if (status != nullptr) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return text;
}

Json::Value ReadRecord(const std::string& packageDir, const std::string& id) {
  std::ifstream f(packageDir + "/jobs/" + id + ".json");
  std::stringstream s;
  s << f.rdbuf();
  Json::Value v;
  Json::Reader().parse(s.str(), v);
  return v;
}

}  // namespace

std::string MakeTar(const std::vector<TarEntry>& entries, bool gzip) {
  setlocale(LC_ALL, "C.UTF-8");  // libarchive converts names through it
  std::string out;
  struct archive* a = archive_write_new();
  archive_write_set_format_pax_restricted(a);
  if (gzip) archive_write_add_filter_gzip(a);
  archive_write_set_bytes_in_last_block(a, 1);
  archive_write_open(a, &out, nullptr, Append, nullptr);
  for (const TarEntry& e : entries) {
    struct archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname_utf8(entry, e.path.c_str());
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_mtime(entry, 1700000000, 0);
    if (e.kind == 'l') {
      archive_entry_set_filetype(entry, AE_IFLNK);
      archive_entry_set_symlink(entry, e.target.c_str());
    } else if (e.kind == 'h') {
      archive_entry_set_filetype(entry, AE_IFREG);
      archive_entry_set_hardlink(entry, e.target.c_str());
    } else if (e.kind == 'd') {
      archive_entry_set_filetype(entry, AE_IFDIR);
    } else {
      archive_entry_set_filetype(entry, AE_IFREG);
      archive_entry_set_size(entry, static_cast<la_int64_t>(e.data.size()));
    }
    archive_write_header(a, entry);
    if (e.kind == 'f') archive_write_data(a, e.data.data(), e.data.size());
    archive_entry_free(entry);
  }
  archive_write_close(a);
  archive_write_free(a);
  return out;
}

std::vector<TarEntry> ReadTar(const std::string& data) {
  setlocale(LC_ALL, "C.UTF-8");
  std::vector<TarEntry> entries;
  struct archive* a = archive_read_new();
  archive_read_support_filter_gzip(a);
  archive_read_support_format_tar(a);
  struct archive_entry* e;
  if (archive_read_open_memory(a, data.data(), data.size()) == ARCHIVE_OK) {
    while (archive_read_next_header(a, &e) == ARCHIVE_OK) {
      TarEntry t(archive_entry_pathname_utf8(e) ? archive_entry_pathname_utf8(e) : "", "");
      if (archive_entry_filetype(e) == AE_IFDIR) t.kind = 'd';
      char buf[65536];
      la_ssize_t n;
      while ((n = archive_read_data(a, buf, sizeof buf)) > 0) t.data.append(buf, n);
      if (n < 0) {
        entries.clear();
        break;
      }
      entries.push_back(t);
    }
  }
  archive_read_free(a);
  return entries;
}

std::string Gzip(const std::string& data) {
  std::string out;
  struct archive* a = archive_write_new();
  archive_write_set_format_raw(a);
  archive_write_add_filter_gzip(a);
  archive_write_set_bytes_in_last_block(a, 1);
  archive_write_open(a, &out, nullptr, Append, nullptr);
  struct archive_entry* entry = archive_entry_new();
  archive_entry_set_filetype(entry, AE_IFREG);
  archive_write_header(a, entry);
  archive_write_data(a, data.data(), data.size());
  archive_entry_free(entry);
  archive_write_close(a);
  archive_write_free(a);
  return out;
}

std::string Multipart(const Params& fields, const std::string& fileField,
                      const std::string& file, std::string* contentType) {
  const std::string boundary = "----jobsBoundary7MA4YWxkTrZu0gW";
  std::string body;
  for (const auto& f : fields)
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + f.first +
            "\"\r\n\r\n" + f.second + "\r\n";
  if (!fileField.empty())
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + fileField +
            "\"; filename=\"backup.tar.gz\"\r\nContent-Type: application/gzip\r\n\r\n" + file +
            "\r\n";
  body += "--" + boundary + "--\r\n";
  *contentType = "multipart/form-data; boundary=" + boundary;
  return body;
}

Json::Value WaitJob(const std::string& program, const std::string& packageDir,
                    const std::string& id, int seconds) {
  Json::Value last;
  for (int tick = 0; tick < seconds * 20; ++tick) {
    // The record is read directly (cheap) and the program asked every
    // five seconds: it tells a job that died.
    if (tick % 100 == 99 || ReadRecord(packageDir, id)["state"] != "running") {
      CgiResult r = RunCgi(program, GetEnv("action=jobs&id=" + id));
      last = r.json["data"][0];
      if (last["state"] != "running") return last;
    }
    usleep(50 * 1000);
  }
  return last;
}

bool WaitProgress(const std::string& packageDir, const std::string& id, long long done,
                  int seconds) {
  for (int tick = 0; tick < seconds * 20; ++tick) {
    Json::Value r = ReadRecord(packageDir, id);
    if (r["progress"]["done"].asInt64() >= done && r["state"] == "running") return true;
    usleep(50 * 1000);
  }
  return false;
}

std::vector<TarEntry> WithSums(std::vector<TarEntry> entries) {
  if (!entries.empty() && entries.back().path == "SHA256SUMS") entries.pop_back();
  std::string sums;
  for (const TarEntry& e : entries) {
    if (e.kind != 'f') continue;
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(e.data.data(), e.data.size(), md, &len, EVP_sha256(), nullptr);
    char hex[3];
    for (unsigned int i = 0; i < len; ++i) {
      snprintf(hex, sizeof hex, "%02x", md[i]);
      sums += hex;
    }
    sums += "  " + e.path + "\n";
  }
  entries.push_back({"SHA256SUMS", sums});
  return entries;
}

pid_t JobPid(const std::string& packageDir, const std::string& id) {
  return ReadRecord(packageDir, id)["pid"].asInt();
}

std::string Admin(const std::string& program, const std::string& args, int* status) {
  return Output(Quote(program) + " --user \"$(id -un)\" " + args + " </dev/null 2>/dev/null",
                status);
}

bool Commit(const std::string& dir, const std::string& author, const std::string& message,
            const std::string& script) {
  char wc[] = "/tmp/jobs-wc-XXXXXX";
  if (mkdtemp(wc) == nullptr) return false;
  const std::string svn = "LC_ALL=C.UTF-8 svn --non-interactive --config-dir " +
                          Quote(std::string(wc) + "/.config") + " ";
  const std::string command =
      svn + "checkout -q " + Quote("file://" + dir) + " " + Quote(std::string(wc) + "/co") +
      " && cd " + Quote(std::string(wc) + "/co") + " && (" + script + ") && " + svn +
      "add -q --force . && " + svn + "commit -q --username " + Quote(author) + " -m " +
      Quote(message) + " >/dev/null";
  int status = system(command.c_str());
  system(("rm -rf " + Quote(wc)).c_str());
  return status == 0;
}

std::string History(const std::string& dir) {
  return Output("export LC_ALL=C.UTF-8; d=" + Quote(dir) +
                "; svnlook uuid \"$d\"; y=$(svnlook youngest \"$d\"); echo \"$y\"; "
                "for r in $(seq 0 \"$y\"); do svnlook info -r \"$r\" \"$d\"; "
                "svnlook changed -r \"$r\" \"$d\"; svnlook propget --revprop -r \"$r\" "
                "\"$d\" svn:date; done; svnlook tree \"$d\"");
}

Svnserve::Svnserve(const std::string& root) : root_(root) {
  port_ = net::FreePort();
  std::string port = std::to_string(port_);
  const char* argv[] = {"svnserve", "-d", "--foreground", "--listen-host", "127.0.0.1",
                        "--listen-port", port.c_str(), "-r", root.c_str(), nullptr};
  if (posix_spawnp(&pid_, "svnserve", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
    pid_ = 0;
  net::WaitFor(port_, true);
}

Svnserve::~Svnserve() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

bool Svnserve::Lists(const std::string& name, const std::string& user,
                     const std::string& password) const {
  std::string command = "LC_ALL=C.UTF-8 svn ls --non-interactive --no-auth-cache --config-dir " +
                        Quote(root_ + "/../svnconfig") + " " +
                        Quote("svn://127.0.0.1:" + std::to_string(port_) + "/" + name);
  if (!user.empty()) command += " --username " + Quote(user) + " --password " + Quote(password);
  return system((command + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace jobs
