// The web form framework, driven as a web server drives a CGI program.

#include <gtest/gtest.h>

#include <json/reader.h>

#include "cgi_run.h"

namespace {

const char kProbe[] = WEBFORM_PROBE;
const char kJson[] = "application/json; charset=\"UTF-8\"";

Json::Value Parse(const std::string& text) {
  Json::Value v;
  Json::Reader().parse(text, v);
  return v;
}

TEST(WebformRequest, ReadsGetPostAndMultipart) {
  CgiResult r = RunCgi(kProbe, GetEnv("action=load&name=a+b%2Bc&action=second"
                                      "&ACTION=upper&realm=%zz&accounts="));
  EXPECT_EQ(0, r.exitStatus);
  EXPECT_EQ("text/html; charset=\"UTF-8\"", r.contentType);
  EXPECT_EQ(Parse(R"({"action":"load","name":"a b+c","realm":"%zz",)"
                  R"("accounts":"","ACTION":"upper","nullDefault":""})"),
            r.json)
      << r.body;

  // POST reads the body only; the query string is not a parameter source.
  std::string body = FormEncode({{"action", "post"}, {"realm", "R\xC3\xA9"}});
  CgiEnv env = PostEnv(body);
  env["QUERY_STRING"] = "name=fromquery";
  r = RunCgi(kProbe, env, body);
  EXPECT_EQ("post", r.json["action"].asString());
  EXPECT_EQ("R\xC3\xA9", r.json["realm"].asString());
  EXPECT_EQ("(absent)", r.json["name"].asString());

  body =
      "--XyZ\r\nContent-Disposition: form-data; name=\"action\"\r\n\r\nmp\r\n"
      "--XyZ\r\nContent-Disposition: form-data; name=\"name\"; "
      "filename=\"f.txt\"\r\nContent-Type: text/plain\r\n\r\nfile\r\n"
      "--XyZ\r\nContent-Disposition: form-data; name=\"accounts\"\r\n\r\n"
      "[{\"account\":\"a\"}]\r\n--XyZ--\r\n";
  r = RunCgi(kProbe, PostEnv(body, "multipart/form-data; boundary=XyZ"), body);
  EXPECT_EQ("mp", r.json["action"].asString()) << r.body;
  EXPECT_EQ("[{\"account\":\"a\"}]", r.json["accounts"].asString());
  EXPECT_EQ("(absent)", r.json["name"].asString());  // file parts ignored
}

// The form reader keeps GNU cgicc's rules, which the framework used before.
TEST(WebformRequest, KeepsCgiccRules) {
  const std::string multipart = "multipart/form-data; boundary=XyZ";
  struct {
    const char* name;
    CgiEnv env;
    std::string body;
    const char* action;
    const char* nameValue;
    const char* realm;
  } cases[] = {
      {"';' ends a value, not a name", GetEnv("action=a;name=b&realm=c;d"), "", "a", "b", "c"},
      {"runs of '&'; a last name without '=' is dropped",
       GetEnv("&&action=a&&name&realm"), "", "a", "", "(absent)"},
      {"a '%' without two hex digits stays",
       GetEnv("name=%41%4a%6b%2&realm=%&action=%G1"), "", "%G1", "AJk%2", "%"},
      {"'=' in a value", GetEnv("name==x&realm=a=b"), "", "(absent)", "=x", "a=b"},
      {"type compared without case",
       PostEnv("name=x", "Application/X-WWW-Form-Urlencoded; charset=UTF-8"), "name=x",
       "(absent)", "x", "(absent)"},
      {"a body of another type has no parameters", PostEnv("name=x", "text/plain"),
       "name=x", "(absent)", "(absent)", "(absent)"},
      {"an empty file name is a field",
       PostEnv("", multipart),
       "--XyZ\r\nContent-Disposition: form-data; name=\"name\"; filename=\"\"\r\n\r\n"
       "empty file\r\n--XyZ--\r\n",
       "(absent)", "empty file", "(absent)"},
  };
  for (auto& c : cases) {
    if (!c.body.empty()) c.env["CONTENT_LENGTH"] = std::to_string(c.body.size());
    CgiResult r = RunCgi(kProbe, c.env, c.body);
    EXPECT_EQ("", r.status) << c.name;
    EXPECT_EQ(c.action, r.json["action"].asString()) << c.name;
    EXPECT_EQ(c.nameValue, r.json["name"].asString()) << c.name;
    EXPECT_EQ(c.realm, r.json["realm"].asString()) << c.name;
  }
}

// A multipart body is read as it arrives: the file part a sink takes may
// be of any size and costs no memory; everything else still counts toward
// the limit, and a body that is not well formed is refused whole.
TEST(WebformRequest, StreamsUploadsOfAnySize) {
  auto part = [](const std::string& name, const std::string& value, bool file = false) {
    return "--XyZ\r\nContent-Disposition: form-data; name=\"" + name + "\"" +
           (file ? "; filename=\"f.bin\"\r\nContent-Type: application/octet-stream" : "") +
           "\r\n\r\n" + value + "\r\n";
  };
  std::string big(3 * 1024 * 1024, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 4096);
  // Content that looks like a delimiter but is not one.
  const std::string tricky = "a\r\n--XyZa\r\n--Xy\r\n--XyZ x\r\n";
  // What the probe says of an upload of `data`.
  auto got = [](const std::string& data) {
    unsigned hash = 2166136261u;
    for (unsigned char c : data) hash = (hash ^ c) * 16777619u;
    char text[64];
    snprintf(text, sizeof text, "%zu %08x complete", data.size(), hash);
    return std::string(text);
  };
  struct {
    const char* name;
    std::string body;
    const char* status;
    std::string action;  // the parameter served, when not refused
    std::string upload;  // what the sink got; empty: no part taken
  } cases[] = {
      {"3 MiB upload", part("action", "up") + part("upload", big, true) + "--XyZ--\r\n", "", "up",
       got(big)},
      {"fields after it, preamble and epilogue",
       "preamble\r\n" + part("upload", "", true) + part("action", "after") + "--XyZ--\r\nend",
       "", "after", got("")},
      {"delimiter look-alikes", part("upload", tricky, true) + part("action", tricky) +
                                    "--XyZ--\r\n", "", tricky, got(tricky)},
      {"padding after a delimiter", "--XyZ  \r\n" + part("action", "pad").substr(7) +
                                        "--XyZ--", "", "pad", ""},
      {"3 MiB the sink does not take", part("action", "up") + part("other", big, true) +
                                           "--XyZ--\r\n", "413 Payload Too Large", "", ""},
      {"a field over the limit", part("action", std::string(1024 * 1024 + 1, 'a')) + "--XyZ--\r\n",
       "413 Payload Too Large", "", ""},
      {"cut in the upload", part("action", "up") + "--XyZ\r\nContent-Disposition: form-data; "
                            "name=\"upload\"; filename=\"x\"\r\n\r\npartial",
       "400 Bad Request", "", ""},
      {"no closing delimiter", part("action", "up"), "400 Bad Request", "", ""},
      {"no delimiter at all", "action=up", "400 Bad Request", "", ""},
      {"a header line without end", "--XyZ\r\n" + std::string(9000, 'h'), "400 Bad Request", "",
       ""},
      {"invalid UTF-8 after the upload", part("upload", "x", true) + part("action", "\xC3(") +
                                             "--XyZ--\r\n", "400 Bad Request", "", ""},
  };
  for (const auto& c : cases) {
    CgiResult r = RunCgi(kProbe, PostEnv(c.body, "multipart/form-data; boundary=XyZ"), c.body);
    EXPECT_EQ(0, r.exitStatus) << c.name;
    EXPECT_EQ(c.status, r.status) << c.name << "\n" << r.body;
    if (c.status[0] != '\0') continue;
    EXPECT_EQ(c.action, r.json["action"].asString()) << c.name;
    EXPECT_EQ(c.upload, r.json["upload"].asString()) << c.name;
  }
}

TEST(WebformRequest, RefusesBadRequestsBeforeServingThem) {
  struct {
    const char* name;
    CgiEnv env;
    std::string body;
    const char* status;
  } cases[] = {
      {"PUT", [] { CgiEnv e = GetEnv(""); e["REQUEST_METHOD"] = "PUT"; return e; }(),
       "", "405 Method Not Allowed"},
      {"lower-case post", [] { CgiEnv e = PostEnv("a=b"); e["REQUEST_METHOD"] = "post"; return e; }(),
       "a=b", "405 Method Not Allowed"},
      {"body over 1 MiB", PostEnv(std::string(1024 * 1024 + 1, 'a')),
       std::string(1024 * 1024 + 1, 'a'), "413 Payload Too Large"},
      {"huge announced length", [] { CgiEnv e = PostEnv(""); e["CONTENT_LENGTH"] = "99999999999999999999"; return e; }(),
       "", "413 Payload Too Large"},
      {"body shorter than announced", [] { CgiEnv e = PostEnv("action=x"); e["CONTENT_LENGTH"] = "100"; return e; }(),
       "action=x", "400 Bad Request"},
      {"length not a number", [] { CgiEnv e = PostEnv(""); e["CONTENT_LENGTH"] = "-1"; return e; }(),
       "", "400 Bad Request"},
      {"NUL in a value", GetEnv("name=a%00b"), "", "400 Bad Request"},
      {"NUL in a name", GetEnv("na%00me=a"), "", "400 Bad Request"},
      {"invalid UTF-8", GetEnv("name=%C3%28"), "", "400 Bad Request"},
      {"overlong UTF-8", GetEnv("name=%C0%AE%C0%AE"), "", "400 Bad Request"},
      {"surrogate", GetEnv("name=%ED%A0%80"), "", "400 Bad Request"},
      {"multipart part without a blank line",
       PostEnv("--XyZ\r\nContent-Disposition: form-data; name=\"name\"\r\nx\r\n--XyZ--\r\n",
               "multipart/form-data; boundary=XyZ"),
       "--XyZ\r\nContent-Disposition: form-data; name=\"name\"\r\nx\r\n--XyZ--\r\n",
       "400 Bad Request"},
  };
  for (const auto& c : cases) {
    CgiResult r = RunCgi(kProbe, c.env, c.body);
    EXPECT_EQ(0, r.exitStatus) << c.name;
    EXPECT_EQ(c.status, r.status) << c.name;
    EXPECT_EQ(kJson, r.contentType) << c.name;
    EXPECT_EQ(R"({"success":false})", r.body) << c.name;
    EXPECT_TRUE(BrowserSafe(r)) << c.name;
    EXPECT_EQ(c.status[2] == '5', r.head.find("Allow: GET, POST\r\n") != std::string::npos)
        << c.name;
  }
  // Exactly 1 MiB is still served.
  std::string body = "name=" + std::string(1024 * 1024 - 5, 'n');
  CgiResult r = RunCgi(kProbe, PostEnv(body), body);
  EXPECT_EQ("", r.status);
  EXPECT_EQ(1024u * 1024 - 5, r.json["name"].asString().size());
}

TEST(WebformAuthenticate, AdmitsOnlyAuthenticatedSameOriginRequests) {
  struct {
    const char* name;
    std::map<std::string, std::string> set;
    std::vector<std::string> unset;
    bool admitted;
  } cases[] = {
      {"plain request", {}, {}, true},
      {"same-origin fetch", {{"HTTP_SEC_FETCH_SITE", "same-origin"}}, {}, true},
      {"typed address", {{"HTTP_SEC_FETCH_SITE", "none"}}, {}, true},
      {"matching origin", {{"HTTP_ORIGIN", "http://NAS:5000"}}, {}, true},
      {"no user", {}, {"REMOTE_USER"}, false},
      {"empty user", {{"REMOTE_USER", ""}}, {}, false},
      {"cross-site fetch", {{"HTTP_SEC_FETCH_SITE", "cross-site"}}, {}, false},
      {"same-site fetch", {{"HTTP_SEC_FETCH_SITE", "same-site"}}, {}, false},
      {"other origin", {{"HTTP_ORIGIN", "http://evil.example"}}, {}, false},
      {"other port", {{"HTTP_ORIGIN", "http://nas:5001"}}, {}, false},
      {"null origin", {{"HTTP_ORIGIN", "null"}}, {}, false},
      {"origin without host header", {{"HTTP_ORIGIN", "http://nas:5000"}},
       {"HTTP_HOST"}, false},
  };
  for (const auto& c : cases) {
    CgiEnv env = GetEnv("mode=success&value=ok");
    for (const auto& kv : c.set) env[kv.first] = kv.second;
    for (const auto& name : c.unset) env.erase(name);
    CgiResult r = RunCgi(kProbe, env);
    EXPECT_EQ(0, r.exitStatus) << c.name;
    if (c.admitted) {
      EXPECT_EQ("", r.status) << c.name;
      EXPECT_EQ(R"({"data":"ok","success":true})", r.body) << c.name;
    } else {
      EXPECT_EQ("403 Forbidden", r.status) << c.name;
      EXPECT_EQ(Parse(R"({"success":false,"errinfo":{"sec":"error","key":"forbidden"}})"),
                r.json)
          << c.name;
    }
  }
  // A refused request's body is never read, however large it claims to be.
  CgiEnv env = PostEnv("x");
  env.erase("REMOTE_USER");
  env["CONTENT_LENGTH"] = "5000000";
  EXPECT_EQ("403 Forbidden", RunCgi(kProbe, env, "x").status);
}

TEST(WebformResponse, Envelopes) {
  struct {
    const char* query;
    const char* body;
  } cases[] = {
      {"mode=success&value=v", R"({"data":"v","success":true})"},
      {"mode=success&value=v&key=nonexist",
       R"({"data":"v","errinfo":{"key":"nonexist","line":42,"sec":"error"},"success":true})"},
      {"mode=error", R"({"success":false})"},
      {"mode=error&key=exist",
       R"({"errinfo":{"key":"exist","line":42,"sec":"error"},"success":false})"},
      {"mode=twice", R"({"data":"first","success":true})"},
      {"mode=success&value=%C3%A9%22%3C", R"({"data":"\u00e9\"\u003c","success":true})"},
      // No markup a browser could act on, whatever the content type.
      {"mode=success&value=%3Cimg%20src%3Dx%20onerror%3Dalert(1)%3E%26amp%3B",
       R"({"data":"\u003cimg src=x onerror=alert(1)\u003e\u0026amp;","success":true})"},
      {"mode=echo&name=%3C%2Fscript%3E",
       R"x({"ACTION":"(absent)","accounts":"(absent)","action":"(absent)",)x"
       R"x("name":"\u003c/script\u003e","nullDefault":"","realm":"(absent)"})x"},
  };
  for (const auto& c : cases) {
    CgiResult r = RunCgi(kProbe, GetEnv(c.query));
    EXPECT_EQ(0, r.exitStatus) << c.query;
    EXPECT_TRUE(BrowserSafe(r)) << c.query << "\n" << r.head;
    EXPECT_EQ(c.body, r.body) << c.query;
  }
  // The escapes read back as the text that was sent.
  CgiResult r = RunCgi(kProbe, GetEnv("mode=success&value=a%3Cb%3Ec%26d"));
  EXPECT_EQ("a<b>c&d", r.json["data"].asString());
}

}  // namespace
