// json_text.cpp: decoding the JSON parameters of a request.

#include "store/json_text.h"

#include <json/reader.h>
#include <stdio.h>

#include <exception>
#include <memory>

#define LOG_MODULE "ui"

bool ParseJson(const std::string& text, Json::Value* ret, unsigned* line, unsigned* column) {
  Json::CharReaderBuilder builder;
  builder["allowComments"] = true;
  builder["failIfExtra"] = true;
  builder["rejectDupKeys"] = true;
  builder["allowSpecialFloats"] = false;
  builder["stackLimit"] = 64;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string why;
  bool parsed = false;
  try {
    parsed = reader->parse(text.data(), text.data() + text.size(), ret, &why);
  } catch (const std::exception&) {  // nesting beyond the limit
    why.clear();
  }
  if (parsed) return true;
  // The parser's complaint may quote the text: only its place is kept.
  if (sscanf(why.c_str(), "* Line %u, Column %u", line, column) != 2) *line = *column = 0;
  return false;
}

SVNStatus DecodeAccounts(const Json::Value& json, SVNAccountList* accounts) {
  if (!json.isArray()) return STATUS_ERROR(kFailed, "Accounts are not a list of account objects.");
  SVNAccountList list;
  for (Json::Value::ArrayIndex i = 0; i < json.size(); ++i) {
    const Json::Value& item = json[i];
    bool shaped = item.isObject();
    for (const char* member : {"account", "password"})
      shaped = shaped && (!item.isMember(member) || item[member].isString());
    if (!shaped) return STATUS_ERROR(kFailed, "Account %u is not an account object.", i + 1);
    list.emplace_back(item["account"].asString(), item["password"].asString());
  }
  accounts->swap(list);
  return SVNStatus();
}

bool DecodeGroups(const Json::Value& json, SVNRules::Groups* groups) {
  if (!json.isObject()) return false;
  for (const std::string& name : json.getMemberNames()) {
    const Json::Value& members = json[name];
    if (!members.isArray()) return false;
    std::vector<std::string>& list = (*groups)[name];
    for (const Json::Value& m : members) {
      if (!m.isString()) return false;
      list.push_back(m.asString());
    }
  }
  return true;
}

bool DecodeRules(const Json::Value& json, std::vector<SVNRules::Rule>* rules) {
  if (!json.isArray()) return false;
  for (const Json::Value& r : json) {
    if (!r.isObject() || !r["path"].isString() || !r["who"].isString() ||
        !r["access"].isString() || (r.isMember("scope") && !r["scope"].isString()))
      return false;
    rules->push_back({r["path"].asString(), r["who"].asString(), r["access"].asString(),
                      r["scope"].asString()});
  }
  return true;
}
