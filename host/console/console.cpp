#include "host/console/console.h"

#include <cstdio>
#include <deque>
#include <functional>
#include <istream>
#include <ostream>

#include "base/plugin_error.h"
#include "base/text.h"
#include "host/console/json_text.h"

namespace zuvo {
namespace {

using json::Value;

class BadRequest : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string Narrow(std::u16string_view text) { return Utf16ToUtf8(text); }

// The in/out parameters of one call, in the contract's order, as they come
// in and as they go out.
class Params {
 public:
  explicit Params(const Value& request) : request_(request) {}

  std::u16string& Text(const char16_t* name) {
    std::u16string value;
    if (const Value* v = request_.Find(name)) {
      if (v->type != Value::Type::kString) {
        throw BadRequest(Narrow(name) + " must be a string");
      }
      value = v->string;
    }
    texts_.emplace_back(name, std::move(value));
    order_.push_back({name, true, texts_.size() - 1});
    return texts_.back().second;
  }

  int32_t& Number(const char16_t* name) {
    int32_t value = 0;
    if (const Value* v = request_.Find(name)) {
      const std::optional<int32_t> n = v->AsInt32();
      if (!n) throw BadRequest(Narrow(name) + " must be a 32-bit integer");
      value = *n;
    }
    numbers_.emplace_back(name, value);
    order_.push_back({name, false, numbers_.size() - 1});
    return numbers_.back().second;
  }

  // An in parameter: read, not reported.
  std::u16string InText(const char16_t* name) {
    std::u16string& value = Text(name);
    std::u16string copy = value;
    order_.pop_back();
    return copy;
  }
  int32_t InNumber(const char16_t* name) {
    const int32_t value = Number(name);
    order_.pop_back();
    return value;
  }

  void AppendOut(std::string& out) const {
    out += '{';
    bool first = true;
    for (const Entry& e : order_) {
      if (!first) out += ',';
      first = false;
      json::AppendString(out, e.name);
      out += ':';
      if (e.text) {
        json::AppendString(out, texts_[e.index].second);
      } else {
        out += std::to_string(numbers_[e.index].second);
      }
    }
    out += '}';
  }

 private:
  struct Entry {
    const char16_t* name;
    bool text;
    size_t index;
  };
  const Value& request_;
  // Deques keep the references handed out stable while they grow.
  std::deque<std::pair<const char16_t*, std::u16string>> texts_;
  std::deque<std::pair<const char16_t*, int32_t>> numbers_;
  std::vector<Entry> order_;
};

std::string BadRequestLine(const std::string& why) {
  std::string out = "{\"ok\":false,\"error\":";
  json::AppendString(out, u"bad request: " + Utf8ToUtf16(why));
  out += '}';
  return out;
}

std::vector<FormAction> ParseFormActions(const Value* list) {
  std::vector<FormAction> actions;
  if (!list) return actions;
  if (list->type != Value::Type::kArray) throw BadRequest("formActions must be a list");
  for (const Value& item : list->array) {
    if (item.type != Value::Type::kObject) throw BadRequest("a form action must be an object");
    FormAction action;
    const Value* set = item.Find(u"set");
    const Value* click = item.Find(u"click");
    if (set && !click && set->type == Value::Type::kString) {
      action.control = set->string;
      const Value* value = item.Find(u"value");
      if (!value) throw BadRequest("form action set needs a value");
      if (action.control == u"Text1" || action.control == u"Text2" || action.control == u"Text3") {
        if (value->type != Value::Type::kString) {
          throw BadRequest(Narrow(action.control) + " takes a string value");
        }
        action.kind = FormAction::Kind::kSetText;
        action.text = value->string;
      } else if (action.control == u"Check1" || action.control == u"Check2") {
        const std::optional<int32_t> n = value->AsInt32();
        if (value->type == Value::Type::kBool) {
          action.check = value->boolean ? 1 : 0;
        } else if (n && (*n == 0 || *n == 1)) {
          action.check = *n;
        } else {
          throw BadRequest(Narrow(action.control) + " takes the value 0 or 1");
        }
        action.kind = FormAction::Kind::kSetCheck;
      } else {
        throw BadRequest("form action set names no control: " + Narrow(action.control));
      }
    } else if (click && !set && click->type == Value::Type::kString) {
      action.kind = FormAction::Kind::kClick;
      action.control = click->string;
      if (action.control != u"Apply" && action.control != u"Cancel" && action.control != u"..." &&
          action.control != u"Close") {
        throw BadRequest("form action click names no button: " + Narrow(action.control));
      }
      if (const Value* browse = item.Find(u"browse")) {
        if (action.control != u"..." || browse->type != Value::Type::kString) {
          throw BadRequest("browse is a string for the \"...\" button only");
        }
        action.browse = browse->string;
      }
    } else {
      throw BadRequest("a form action has either \"set\" or \"click\" with a string");
    }
    actions.push_back(std::move(action));
  }
  return actions;
}

void AppendStatus(std::string& out, const CallStatus& status) {
  out += "\"ok\":";
  out += status.failed() ? "false" : "true";
}

void AppendError(std::string& out, const CallStatus& status) {
  out += ",\"error\":";
  if (!status.failed()) {
    out += "null";
    return;
  }
  char code[16];
  std::snprintf(code, sizeof code, "\"0x%08X\"", static_cast<uint32_t>(status.code));
  out += code;
}

}  // namespace

std::string Console::Handle(std::string_view line) {
  Value request;
  try {
    request = json::Parse(line);
  } catch (const json::ParseError& e) {
    return BadRequestLine(std::string("not valid JSON: ") + e.what());
  }
  if (request.type != Value::Type::kObject) return BadRequestLine("not a JSON object");

  try {
    if (const Value* holder = request.Find(u"holder")) {
      if (request.Find(u"call")) throw BadRequest("both \"call\" and \"holder\"");
      if (holder->type != Value::Type::kString || holder->string != u"read") {
        throw BadRequest("holder takes \"read\"");
      }
      driver_.TakeToasts();
      driver_.TakeMessageBoxes();
      HolderFields fields;
      const CallStatus status = CallContract([&] { return driver_.ReadHolder(); }, fields);
      std::string out = "{";
      AppendStatus(out, status);
      if (status.failed()) {
        AppendError(out, status);
      } else {
        out += ",\"Text1\":" + json::Quote(fields.sharedFolder);
        out += ",\"Text2\":" + json::Quote(fields.startOn);
        out += ",\"Text3\":" + json::Quote(fields.subFolders);
        out += ",\"Check1\":" + std::to_string(fields.startOnChecked);
        out += ",\"Check2\":" + std::to_string(fields.subFoldersChecked);
      }
      out += '}';
      return out;
    }

    const Value* call = request.Find(u"call");
    if (!call) throw BadRequest("no \"call\" or \"holder\"");
    if (call->type != Value::Type::kString) throw BadRequest("\"call\" must be a string");
    const std::u16string& name = call->string;

    // Binds the parameters (checking their types) and returns the call to
    // make; a Boolean call stores its answer through |boolResult|.
    Params params(request);
    bool boolResult = false;
    bool isBoolean = true;
    std::function<bool()> invoke;
    PXPluginDef& plugin = driver_.plugin();
    if (name == u"Initialize") {
      const int32_t nVersion = params.InNumber(u"nVersion");
      const std::u16string sUserEmail = params.InText(u"sUserEmail");
      invoke = [&plugin, nVersion, sUserEmail] {
        return plugin.Initialize(nVersion, sUserEmail, nullptr);
      };
    } else if (name == u"Uninitialize") {
      isBoolean = false;
      invoke = [&plugin] {
        plugin.Uninitialize();
        return false;
      };
    } else if (name == u"GetPublishInfo") {
      std::u16string& sPluginName = params.Text(u"sPluginName");
      int32_t& nCommandCount = params.Number(u"nCommandCount");
      int32_t& nTagCount = params.Number(u"nTagCount");
      invoke = [&] { return plugin.GetPublishInfo(sPluginName, nCommandCount, nTagCount); };
    } else if (name == u"GetPublishCommandInfo") {
      const int32_t nCommandIdx = params.InNumber(u"nCommandIdx");
      std::u16string& sName = params.Text(u"sName");
      std::u16string& sValue = params.Text(u"sValue");
      std::u16string& sHelp = params.Text(u"sHelp");
      isBoolean = false;
      invoke = [&, nCommandIdx] {
        plugin.GetPublishCommandInfo(nCommandIdx, sName, sValue, sHelp);
        return false;
      };
    } else if (name == u"GetPublishTagInfo") {
      const int32_t nTagIdx = params.InNumber(u"nTagIdx");
      std::u16string& sName = params.Text(u"sName");
      std::u16string& sValue = params.Text(u"sValue");
      isBoolean = false;
      invoke = [&, nTagIdx] {
        plugin.GetPublishTagInfo(nTagIdx, sName, sValue);
        return false;
      };
    } else if (name == u"ParseCommand") {
      const std::u16string sCommand = params.InText(u"sCommand");
      const std::u16string sCommandArg = params.InText(u"sCommandArg");
      std::u16string& sResult = params.Text(u"sResult");
      invoke = [&, sCommand, sCommandArg] {
        return plugin.ParseCommand(sCommand, sCommandArg, nullptr, sResult);
      };
    } else if (name == u"ParseTag") {
      const std::u16string sTag = params.InText(u"sTag");
      std::u16string& sResult = params.Text(u"sResult");
      invoke = [&, sTag] { return plugin.ParseTag(sTag, nullptr, sResult); };
    } else if (name == u"ReceiveNotify") {
      const std::u16string sNotifyCode = params.InText(u"sNotifyCode");
      const std::u16string sText = params.InText(u"sText");
      const std::u16string sContactName = params.InText(u"sContactName");
      std::u16string& sTextToSend = params.Text(u"sTextToSend");
      invoke = [&, sNotifyCode, sText, sContactName] {
        return plugin.ReceiveNotify(sNotifyCode, sText, sContactName, nullptr, sTextToSend);
      };
    } else {
      throw BadRequest("unknown call \"" + Narrow(name) + "\"");
    }
    std::vector<FormAction> actions = ParseFormActions(request.Find(u"formActions"));

    driver_.TakeToasts();
    driver_.TakeMessageBoxes();
    driver_.SetFormActions(std::move(actions));
    const CallStatus status = CallContract(invoke, boolResult);
    driver_.SetFormActions({});

    std::string out = "{";
    AppendStatus(out, status);
    out += ",\"result\":";
    out += !isBoolean ? "null" : (boolResult && !status.failed()) ? "true" : "false";
    AppendError(out, status);
    out += ",\"out\":";
    params.AppendOut(out);
    if (const std::optional<BetaState> state = driver_.State()) {
      out += ",\"state\":{\"sRequestedFile\":" + json::Quote(state->sRequestedFile);
      out += ",\"sSharedFolder\":" + json::Quote(state->sSharedFolder);
      out += ",\"sSharingOn\":" + json::Quote(state->sSharingOn);
      out += ",\"sSubFolders\":" + json::Quote(state->sSubFolders);
      out += ",\"sFilesSent\":" + json::Quote(state->sFilesSent);
      out += ",\"bOwnRequestPending\":";
      out += state->bOwnRequestPending ? "true}" : "false}";
    }
    out += ",\"toasts\":[";
    bool first = true;
    for (const ToastSeen& toast : driver_.TakeToasts()) {
      out += first ? "" : ",";
      first = false;
      out += "{\"title\":" + json::Quote(toast.title) +
             ",\"message\":" + json::Quote(toast.message) + ",\"link\":" + json::Quote(toast.link) +
             ",\"flag\":" + std::to_string(toast.flag) + "}";
    }
    out += "],\"messageBoxes\":[";
    first = true;
    for (const MessageBoxSeen& box : driver_.TakeMessageBoxes()) {
      out += first ? "" : ",";
      first = false;
      out += "{\"text\":" + json::Quote(box.text) + ",\"title\":" + json::Quote(box.title) + "}";
    }
    out += "]}";
    return out;
  } catch (const BadRequest& e) {
    return BadRequestLine(e.what());
  }
}

void Console::Run(std::istream& in, std::ostream& out) {
  std::string line;
  while (std::getline(in, line)) {
    out << Handle(line) << '\n' << std::flush;
  }
}

}  // namespace zuvo
