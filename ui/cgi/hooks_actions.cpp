// hooks_actions.cpp: the hook presets: "hooks_show" and "hooks_edit".

#include <syslog.h>

#include "store/hooks.h"
#include "store/root.h"
#include "ui/cgi/handler.h"

#define LOG_MODULE "ui"

namespace {

// The parameter and answer member of each preset.
const char* const kPresetKeys[kHookPresetCount] = {"log_edits", "read_only"};

}  // namespace

SVNReply SVNHandler::HandleHooksShowAction() {
  const std::string name = webMan.In("name", "");
  if (name.empty()) return SVNReply::Fail(STATUS_ERROR(kFailed, "Arguments Error"), __LINE__);
  if (!RepoExists(name))
    return SVNReply::Fail(
        STATUS_ERROR(kNotFound, "Repository %s is not exist", Printable(name).c_str()), __LINE__);
  SVNHookState states[kHookPresetCount];
  ReadHooks(RepoPath(name), states);
  Json::Value data(Json::objectValue), reasons(Json::objectValue);
  for (int i = 0; i < kHookPresetCount; ++i) {
    const SVNHookState& s = states[i];
    data[kPresetKeys[i]] = s.kind == SVNHookState::kCustom ? Json::Value("custom")
                                                           : Json::Value(s.kind == SVNHookState::kOn);
    if (s.kind == SVNHookState::kCustom) reasons[kPresetKeys[i]] = s.reason;
  }
  if (!reasons.empty()) data["reasons"] = std::move(reasons);
  return SVNReply::Data(std::move(data));
}

SVNReply SVNHandler::HandleHooksEditAction() {
  const std::string name = webMan.In("name", "");
  std::optional<bool> wanted[kHookPresetCount];
  bool any = false;
  for (int i = 0; i < kHookPresetCount; ++i) {
    const std::string word = webMan.In(kPresetKeys[i], "");
    if (word.empty()) continue;
    if (word != "yes" && word != "no")
      return SVNReply::Fail(STATUS_ERROR(kFailed, "%s is neither yes nor no.", kPresetKeys[i]),
                            __LINE__);
    wanted[i] = word == "yes";
    any = true;
  }
  if (name.empty() || !any)
    return SVNReply::Fail(STATUS_ERROR(kFailed, "Arguments Error"), __LINE__);
  if (!RepoExists(name))
    return SVNReply::Fail(
        STATUS_ERROR(kNotFound, "Repository %s is not exist", Printable(name).c_str()), __LINE__);
  SVNHookState before[kHookPresetCount];
  ReadHooks(RepoPath(name), before);
  SVNStatus status = SetHooks(RepoPath(name), wanted);
  for (int i = 0; i < kHookPresetCount; ++i) {
    if (!wanted[i] || (before[i].kind == SVNHookState::kOn) == *wanted[i]) continue;
    Json::Value change;
    change["old"] = before[i].kind == SVNHookState::kOn ? "on" : "off";
    change["new"] = *wanted[i] ? "on" : "off";
    changes_.set(kPresetKeys[i], change);
  }
  if (!status.ok())
    return SVNReply::Fail(STATUS_WITH(status, "Set the hooks of %s failed.", Printable(name).c_str()),
                          __LINE__);
  return SVNReply::Data(Json::Value());
}
