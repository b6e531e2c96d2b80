// hooks_actions.cpp: the hook presets: "hooks_show" and "hooks_edit".

#include <syslog.h>

#include "store/hooks.h"
#include "store/root.h"
#include "ui/cgi/actions.h"

#define LOG_MODULE "ui"

SVNReply HooksShowAction(SVNRequest& req) {
  const std::string name = req.In("name");
  if (name.empty()) return REPLY_ERROR(kFailed, "Arguments Error");
  SVNName checked;
  REPLY_TRY(FindRepo(name, HERE, &checked));
  SVNHookState states[kHookPresetCount];
  ReadHooks(RepoPath(name), states);
  Json::Value data(Json::objectValue), reasons(Json::objectValue);
  for (int i = 0; i < kHookPresetCount; ++i) {
    const SVNHookState& s = states[i];
    data[kHookPresetKeys[i]] = s.kind == SVNHookState::kCustom ? Json::Value("custom")
                                                           : Json::Value(s.kind == SVNHookState::kOn);
    if (s.kind == SVNHookState::kCustom) reasons[kHookPresetKeys[i]] = s.reason;
  }
  if (!reasons.empty()) data["reasons"] = std::move(reasons);
  return SVNReply::Data(std::move(data));
}

SVNReply HooksEditAction(SVNRequest& req) {
  const std::string name = req.In("name");
  std::optional<bool> wanted[kHookPresetCount];
  bool any = false;
  for (int i = 0; i < kHookPresetCount; ++i) {
    const std::string word = req.In(kHookPresetKeys[i]);
    if (word.empty()) continue;
    if (word != "yes" && word != "no")
      return REPLY_ERROR(kFailed, "%s is neither yes nor no.", kHookPresetKeys[i]);
    wanted[i] = word == "yes";
    any = true;
  }
  if (name.empty() || !any) return REPLY_ERROR(kFailed, "Arguments Error");
  SVNName checked;
  REPLY_TRY(FindRepo(name, HERE, &checked));
  SVNHookState before[kHookPresetCount];
  ReadHooks(RepoPath(name), before);
  SVNStatus status = SetHooks(RepoPath(name), wanted);
  for (int i = 0; i < kHookPresetCount; ++i) {
    if (!wanted[i] || (before[i].kind == SVNHookState::kOn) == *wanted[i]) continue;
    Json::Value change;
    change["old"] = before[i].kind == SVNHookState::kOn ? "on" : "off";
    change["new"] = *wanted[i] ? "on" : "off";
    req.changes().set(kHookPresetKeys[i], change);
  }
  REPLY_TRY_WITH(status, "Set the hooks of %s failed.", Printable(name).c_str());
  return SVNReply::Data(Json::Value());
}
