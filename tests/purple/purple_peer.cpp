// purple_peer: a headless libpurple chat client driven line by line, for the
// end-to-end tests and scripts/try-finch.
//
//   purple_peer --dir CONFIG_DIR [--plugins DIR] [--pref NAME=VALUE]... [--timeout SECONDS]
//               [--wire] [--lateness]
//
// It runs libpurple with a null user interface in CONFIG_DIR, loads the Zuvo
// File Sharing plug-in from DIR (after applying the --pref values, so the
// plug-in starts with them), then reads commands from its standard input.
// Without --plugins it is a client without the plug-in: it shows everything
// it receives as libpurple shows it (on IRC a NOTICE too, and a CTCP as
// libpurple passes it on), which is what a contact without the plug-in sees.
// --wire also prints every protocol line (IRC) or stanza (XMPP) received.
// --lateness runs a 10 ms timer on the main loop and keeps how late it
// fired: how long the loop was held up (the "lateness" command prints it).
//
//
//   account ALIAS PROTOCOL USERNAME PASSWORD|- [SETTING=VALUE]...
//                                  adds an account and signs it on
//   buddy ALIAS NAME               adds NAME to the account's buddy list
//   im ALIAS CONTACT TEXT          types TEXT into the conversation with CONTACT:
//                                  "/command ..." runs a slash command, anything
//                                  else is sent as a message
//   sendfile ALIAS CONTACT PATH    offers a file to CONTACT
//   raw ALIAS TEXT                 sends TEXT as it is on the account's
//                                  connection (an XMPP stanza; an IRC line,
//                                  CR LF added)
//   accept DIR                     accepts every offered file into DIR (only
//                                  for runs without the plug-in)
//   pref NAME VALUE                sets a preference (s:, b:, i: type prefix)
//   mark NAME                      prints "mark NAME" (a place in the output)
//   ping ALIAS CONTACT NAME        sends CONTACT a message that its purple_peer
//                                  prints as "ALIAS ping CONTACT NAME": what was
//                                  sent to CONTACT before has arrived by then
//   rss                            prints "rss KIB" (resident memory)
//   lateness                       with --lateness: prints "lateness WORST_MS
//                                  OVER_50 TICKS" (the 10 ms timer's worst
//                                  lateness, how often it was over 50 ms late,
//                                  how often it fired) since the last one
//   quit                           signs off and exits 0
//
// It prints what a person would see, one line each, prefixed with the wall
// clock in milliseconds:
//
//   T ALIAS online | offline | error TEXT
//   T ALIAS conv CONTACT KIND WHO: TEXT     KIND: recv, send, sys, error, other
//   T ALIAS xfer-done CONTACT LOCALPATH | xfer-cancel CONTACT NAME
//   T ALIAS ping CONTACT NAME               a ping from CONTACT arrived
//   T ALIAS wire TEXT                       with --wire: a line or stanza received
//   T notify TITLE: TEXT | request TITLE: TEXT
//
// Everything incoming that asks the user (a file offer, a form) is answered
// with "Cancel". It exits 2 when --timeout passes.

#include <glib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wparentheses"
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <account.h>
#include <blist.h>
#include <cmds.h>
#include <connection.h>
#include <conversation.h>
#include <core.h>
#include <debug.h>
#include <eventloop.h>
#include <ft.h>
#include <notify.h>
#include <plugin.h>
#include <prefs.h>
#include <prpl.h>
#include <request.h>
#include <savedstatuses.h>
#include <server.h>
#include <util.h>
#include <xmlnode.h>
#pragma GCC diagnostic pop

namespace {

constexpr const char* kUiId = "zuvo-purple-peer";
constexpr const char* kPluginId = "core-zuvo-file-sharing";
// A message that starts so is a ping (the "ping" command), not chat text.
constexpr const char* kPing = "zuvo-peer-ping ";

GMainLoop* g_loop = nullptr;
std::map<std::string, PurpleAccount*> g_accounts;  // by alias
std::string g_accept_dir;                          // "accept": where offered files go

long long NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// Prints one output line: the time, then the text (line breaks in the text
// become separate lines with the same prefix).
void Emit(const std::string& prefix, const std::string& text = "") {
  long long t = NowMs();
  if (text.empty()) {
    std::printf("%lld %s\n", t, prefix.c_str());
    return;
  }
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::printf("%lld %s%s\n", t, prefix.c_str(), line.c_str());
  }
}

std::string PlainText(const char* markup) {
  if (markup == nullptr) return {};
  char* plain = purple_markup_strip_html(markup);
  std::string text = plain ? plain : "";
  g_free(plain);
  return text;
}

std::string AliasOf(PurpleAccount* account) {
  for (auto& [alias, a] : g_accounts)
    if (a == account) return alias;
  return purple_account_get_username(account);
}

std::string Normalized(PurpleAccount* account, const char* name) {
  const char* n = purple_normalize(account, name);
  return n ? n : (name ? name : "");
}

// --- The event loop: libpurple on GLib's main loop ---------------------------

struct InputClosure {
  PurpleInputFunction function;
  guint result;
  gpointer data;
};

gboolean InputDispatch(GIOChannel* source, GIOCondition condition, gpointer data) {
  auto* closure = static_cast<InputClosure*>(data);
  int cond = 0;
  if (condition & (G_IO_IN | G_IO_HUP | G_IO_ERR)) cond |= PURPLE_INPUT_READ;
  if (condition & (G_IO_OUT | G_IO_HUP | G_IO_ERR | G_IO_NVAL)) cond |= PURPLE_INPUT_WRITE;
  closure->function(closure->data, g_io_channel_unix_get_fd(source),
                    static_cast<PurpleInputCondition>(cond));
  return TRUE;
}

guint InputAdd(gint fd, PurpleInputCondition condition, PurpleInputFunction function,
               gpointer data) {
  auto* closure = g_new0(InputClosure, 1);
  closure->function = function;
  closure->data = data;
  int cond = 0;
  if (condition & PURPLE_INPUT_READ) cond |= G_IO_IN | G_IO_HUP | G_IO_ERR;
  if (condition & PURPLE_INPUT_WRITE) cond |= G_IO_OUT | G_IO_HUP | G_IO_ERR | G_IO_NVAL;
  GIOChannel* channel = g_io_channel_unix_new(fd);
  closure->result = g_io_add_watch_full(
      channel, G_PRIORITY_DEFAULT, static_cast<GIOCondition>(cond), InputDispatch, closure, g_free);
  g_io_channel_unref(channel);
  return closure->result;
}

PurpleEventLoopUiOps g_eventloop_ops;

// --- What a person would see -----------------------------------------------

void WriteConv(PurpleConversation* conv, const char* who, const char*, const char* message,
               PurpleMessageFlags flags, time_t) {
  const char* kind = "other";
  if (flags & PURPLE_MESSAGE_ERROR)
    kind = "error";
  else if (flags & PURPLE_MESSAGE_SYSTEM)
    kind = "sys";
  else if (flags & PURPLE_MESSAGE_RECV)
    kind = "recv";
  else if (flags & PURPLE_MESSAGE_SEND)
    kind = "send";
  PurpleAccount* account = purple_conversation_get_account(conv);
  std::string contact = Normalized(account, purple_conversation_get_name(conv));
  std::string text = PlainText(message);
  if (text.rfind(kPing, 0) == 0) {
    if (flags & PURPLE_MESSAGE_RECV)
      Emit(AliasOf(account) + " ping " + contact + " " + text.substr(std::strlen(kPing)));
    return;
  }
  std::string prefix =
      AliasOf(account) + " conv " + contact + " " + kind + " " + (who ? who : "") + ": ";
  Emit(prefix, text.empty() ? std::string(" ") : text);
}

PurpleConversationUiOps g_conv_ops;

void* NotifyMessage(PurpleNotifyMsgType, const char* title, const char* primary,
                    const char* secondary) {
  Emit(std::string("notify ") + (title ? title : "") + ": " + (primary ? primary : "") + " " +
       (secondary ? secondary : ""));
  return nullptr;
}

void* NotifyFormatted(const char* title, const char* primary, const char*, const char* text) {
  Emit(std::string("notify ") + (title ? title : "") + ": " + (primary ? primary : "") + " " +
       PlainText(text));
  return nullptr;
}

PurpleNotifyUiOps g_notify_ops;

// Every question is answered with its last choice, "Cancel" in libpurple's
// own questions.
void* RequestAction(const char* title, const char* primary, const char*, int, PurpleAccount*,
                    const char*, PurpleConversation*, void* user_data, size_t action_count,
                    va_list actions) {
  Emit(std::string("request ") + (title ? title : "") + ": " + (primary ? primary : ""));
  PurpleRequestActionCb last = nullptr;
  for (size_t i = 0; i < action_count; ++i) {
    va_arg(actions, const char*);
    last = va_arg(actions, PurpleRequestActionCb);
  }
  if (last) last(user_data, static_cast<int>(action_count) - 1);
  return nullptr;
}

void* RequestFields(const char* title, const char* primary, const char*,
                    PurpleRequestFields* fields, const char*, GCallback, const char*,
                    GCallback cancel_cb, PurpleAccount*, const char*, PurpleConversation*,
                    void* user_data) {
  Emit(std::string("request ") + (title ? title : "") + ": " + (primary ? primary : ""));
  if (cancel_cb) reinterpret_cast<PurpleRequestFieldsCb>(cancel_cb)(user_data, fields);
  return nullptr;
}

PurpleRequestUiOps g_request_ops;

void UiInit() {
  g_conv_ops.write_conv = WriteConv;
  g_notify_ops.notify_message = NotifyMessage;
  g_notify_ops.notify_formatted = NotifyFormatted;
  g_request_ops.request_action = RequestAction;
  g_request_ops.request_fields = RequestFields;
  purple_conversations_set_ui_ops(&g_conv_ops);
  purple_notify_set_ui_ops(&g_notify_ops);
  purple_request_set_ui_ops(&g_request_ops);
}

PurpleCoreUiOps g_core_ops;

// --- Signals ---------------------------------------------------------------

void SignedOn(PurpleConnection* gc, gpointer) {
  Emit(AliasOf(purple_connection_get_account(gc)) + " online");
}

void SignedOff(PurpleConnection* gc, gpointer) {
  Emit(AliasOf(purple_connection_get_account(gc)) + " offline");
}

void ConnectionError(PurpleConnection* gc, PurpleConnectionError, const char* text, gpointer) {
  Emit(AliasOf(purple_connection_get_account(gc)) + " error " + (text ? text : ""));
}

// --wire: what the protocols received, before libpurple acts on it.
void IrcReceivingText(PurpleConnection* gc, char** text, gpointer) {
  if (text && *text) Emit(AliasOf(purple_connection_get_account(gc)) + " wire " + *text);
}

void JabberReceivingXmlnode(PurpleConnection* gc, xmlnode** packet, gpointer) {
  if (!packet || !*packet) return;
  char* xml = xmlnode_to_str(*packet, nullptr);
  std::string text = xml ? xml : "";
  g_free(xml);
  // One output line per stanza.
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  Emit(AliasOf(purple_connection_get_account(gc)) + " wire " + text);
}

void FileRecvRequest(PurpleXfer* xfer, gpointer) {
  if (g_accept_dir.empty() || purple_xfer_get_local_filename(xfer) != nullptr) return;
  const char* name = purple_xfer_get_filename(xfer);
  char* base = g_path_get_basename(name ? name : "file");
  char* path = g_build_filename(g_accept_dir.c_str(), base, nullptr);
  purple_xfer_request_accepted(xfer, path);
  g_free(path);
  g_free(base);
}

void XferDone(PurpleXfer* xfer, gpointer) {
  PurpleAccount* account = purple_xfer_get_account(xfer);
  const char* local = purple_xfer_get_local_filename(xfer);
  Emit(AliasOf(account) +
       (purple_xfer_get_type(xfer) == PURPLE_XFER_RECEIVE ? " xfer-done " : " xfer-sent ") +
       Normalized(account, purple_xfer_get_remote_user(xfer)) + " " + (local ? local : ""));
}

void XferCancel(PurpleXfer* xfer, gpointer) {
  PurpleAccount* account = purple_xfer_get_account(xfer);
  const char* name = purple_xfer_get_filename(xfer);
  Emit(AliasOf(account) + " xfer-cancel " + Normalized(account, purple_xfer_get_remote_user(xfer)) +
       " " + (name ? name : ""));
}

// --- Commands --------------------------------------------------------------

// Sets a preference from "s:text", "b:0|1" or "i:number", creating it (and
// its parent) when it does not exist yet.
void SetPref(const std::string& name, const std::string& value) {
  std::string parent = name.substr(0, name.rfind('/'));
  if (!parent.empty() && !purple_prefs_exists(parent.c_str())) {
    // Parents first, outermost first.
    for (size_t p = 1; p != std::string::npos && p <= parent.size();) {
      size_t next = parent.find('/', p);
      std::string part = parent.substr(0, next);
      if (!purple_prefs_exists(part.c_str())) purple_prefs_add_none(part.c_str());
      p = next == std::string::npos ? next : next + 1;
    }
  }
  std::string v = value.size() >= 2 && value[1] == ':' ? value.substr(2) : value;
  char type = value.size() >= 2 && value[1] == ':' ? value[0] : 's';
  if (type == 'b') {
    if (!purple_prefs_exists(name.c_str())) purple_prefs_add_bool(name.c_str(), v == "1");
    purple_prefs_set_bool(name.c_str(), v == "1" || v == "true");
  } else if (type == 'i') {
    if (!purple_prefs_exists(name.c_str()))
      purple_prefs_add_int(name.c_str(), std::atoi(v.c_str()));
    purple_prefs_set_int(name.c_str(), std::atoi(v.c_str()));
  } else {
    if (!purple_prefs_exists(name.c_str())) purple_prefs_add_string(name.c_str(), v.c_str());
    purple_prefs_set_string(name.c_str(), v.c_str());
  }
}

PurpleAccount* Account(const std::string& alias) {
  auto it = g_accounts.find(alias);
  if (it == g_accounts.end()) {
    Emit("error no account " + alias);
    return nullptr;
  }
  return it->second;
}

void AddAccount(const std::vector<std::string>& w) {
  if (w.size() < 5) return Emit("error usage: account ALIAS PROTOCOL USERNAME PASSWORD");
  PurpleAccount* account = purple_account_new(w[3].c_str(), w[2].c_str());
  if (w[4] != "-") purple_account_set_password(account, w[4].c_str());
  purple_account_set_remember_password(account, TRUE);
  for (size_t i = 5; i < w.size(); ++i) {
    size_t eq = w[i].find('=');
    if (eq == std::string::npos) continue;
    std::string key = w[i].substr(0, eq), value = w[i].substr(eq + 1);
    if (value.size() >= 2 && value[1] == ':' && value[0] == 'b')
      purple_account_set_bool(account, key.c_str(), value[2] == '1');
    else if (value.size() >= 2 && value[1] == ':' && value[0] == 'i')
      purple_account_set_int(account, key.c_str(), std::atoi(value.c_str() + 2));
    else
      purple_account_set_string(account, key.c_str(), value.c_str());
  }
  purple_accounts_add(account);
  g_accounts[w[1]] = account;
  purple_account_set_enabled(account, kUiId, TRUE);
}

void AddBuddy(PurpleAccount* account, const std::string& name) {
  if (purple_find_buddy(account, name.c_str())) return;
  PurpleGroup* group = purple_find_group("Buddies");
  if (!group) {
    group = purple_group_new("Buddies");
    purple_blist_add_group(group, nullptr);
  }
  PurpleBuddy* buddy = purple_buddy_new(account, name.c_str(), nullptr);
  purple_blist_add_buddy(buddy, nullptr, group, nullptr);
  purple_account_add_buddy(account, buddy);
}

PurpleConversation* Conversation(PurpleAccount* account, const std::string& contact) {
  PurpleConversation* conv =
      purple_find_conversation_with_account(PURPLE_CONV_TYPE_IM, contact.c_str(), account);
  return conv ? conv : purple_conversation_new(PURPLE_CONV_TYPE_IM, account, contact.c_str());
}

// Types a line into a conversation as a client's input box does.
void Type(PurpleConversation* conv, const std::string& text) {
  if (text.size() > 1 && text[0] == '/' && text[1] != '/') {
    char* escaped = g_markup_escape_text(text.c_str() + 1, -1);
    char* error = nullptr;
    PurpleCmdStatus status = purple_cmd_do_command(conv, text.c_str() + 1, escaped, &error);
    g_free(escaped);
    if (status != PURPLE_CMD_STATUS_OK)
      Emit(AliasOf(purple_conversation_get_account(conv)) + " cmd-error " +
           std::to_string(static_cast<int>(status)) + " " + (error ? error : ""));
    g_free(error);
    return;
  }
  char* escaped = g_markup_escape_text(text.c_str(), -1);
  purple_conv_im_send(PURPLE_CONV_IM(conv), escaped);
  g_free(escaped);
}

void SendRaw(PurpleAccount* account, std::string text) {
  PurpleConnection* gc = purple_account_get_connection(account);
  PurplePlugin* prpl = gc ? purple_connection_get_prpl(gc) : nullptr;
  PurplePluginProtocolInfo* info = prpl ? PURPLE_PLUGIN_PROTOCOL_INFO(prpl) : nullptr;
  if (!info || !info->send_raw) return Emit("error no raw sending on " + AliasOf(account));
  if (std::string(purple_account_get_protocol_id(account)) == "prpl-irc") text += "\r\n";
  info->send_raw(gc, text.data(), static_cast<int>(text.size()));
}

// --lateness: a 10 ms timer, and how late it fired.
constexpr gint64 kProbeUs = 10000;
struct Lateness {
  gint64 last = 0;
  gint64 worst = 0;
  long over50 = 0;
  long ticks = 0;
};
Lateness g_lateness_kept;
Lateness* g_lateness = nullptr;  // with --lateness: &g_lateness_kept

gboolean LatenessProbe(gpointer) {
  const gint64 now = g_get_monotonic_time();
  const gint64 late = now - g_lateness->last - kProbeUs;
  g_lateness->last = now;
  g_lateness->worst = std::max(g_lateness->worst, late);
  if (late > 50000) ++g_lateness->over50;
  ++g_lateness->ticks;
  return TRUE;
}

void ReportLateness() {
  if (!g_lateness) return Emit("error lateness needs --lateness");
  Emit("lateness " + std::to_string(g_lateness->worst / 1000) + " " +
       std::to_string(g_lateness->over50) + " " + std::to_string(g_lateness->ticks));
  *g_lateness = Lateness{g_get_monotonic_time()};
}

long RssKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

void Run(const std::string& line) {
  std::vector<std::string> w;
  std::istringstream in(line);
  for (std::string word; in >> word;) w.push_back(word);
  if (w.empty() || w[0][0] == '#') return;
  // The rest of the line after the first N words, as typed.
  auto rest = [&](size_t n) {
    size_t pos = 0;
    for (size_t i = 0; i < n; ++i) {
      pos = line.find_first_not_of(" \t", pos);
      pos = line.find_first_of(" \t", pos);
      if (pos == std::string::npos) return std::string();
    }
    pos = line.find_first_not_of(" \t", pos);
    return pos == std::string::npos ? std::string() : line.substr(pos);
  };
  const std::string& c = w[0];
  if (c == "account") {
    AddAccount(w);
  } else if (c == "buddy" && w.size() == 3) {
    if (PurpleAccount* a = Account(w[1])) AddBuddy(a, w[2]);
  } else if (c == "im" && w.size() >= 4) {
    if (PurpleAccount* a = Account(w[1])) Type(Conversation(a, w[2]), rest(3));
  } else if (c == "sendfile" && w.size() == 4) {
    if (PurpleAccount* a = Account(w[1]))
      serv_send_file(purple_account_get_connection(a), w[2].c_str(), w[3].c_str());
  } else if (c == "raw" && w.size() >= 3) {
    if (PurpleAccount* a = Account(w[1])) SendRaw(a, rest(2));
  } else if (c == "accept" && w.size() == 2) {
    g_accept_dir = w[1];
  } else if (c == "pref" && w.size() >= 2) {
    SetPref(w[1], rest(2));
  } else if (c == "mark" && w.size() == 2) {
    Emit("mark " + w[1]);
  } else if (c == "ping" && w.size() == 4) {
    if (PurpleAccount* a = Account(w[1])) Type(Conversation(a, w[2]), kPing + w[3]);
  } else if (c == "lateness") {
    ReportLateness();
  } else if (c == "rss") {
    Emit("rss " + std::to_string(RssKib()));
  } else if (c == "quit") {
    g_main_loop_quit(g_loop);
  } else {
    Emit("error unknown command: " + line);
  }
}

gboolean StdinReadable(GIOChannel* channel, GIOCondition, gpointer) {
  gchar* line = nullptr;
  gsize length = 0;
  GIOStatus status = g_io_channel_read_line(channel, &line, &length, nullptr, nullptr);
  if (status == G_IO_STATUS_EOF || status == G_IO_STATUS_ERROR) {
    g_main_loop_quit(g_loop);
    return FALSE;
  }
  if (line) {
    std::string text(line);
    g_free(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    Run(text);
  }
  return TRUE;
}

gboolean TimedOut(gpointer) {
  Emit("timeout");
  std::fflush(stdout);
  std::_Exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::string dir, plugins;
  std::vector<std::pair<std::string, std::string>> prefs;
  int timeout = 0;
  bool wire = false;
  bool lateness = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else if (a == "--plugins" && i + 1 < argc) {
      plugins = argv[++i];
    } else if (a == "--timeout" && i + 1 < argc) {
      timeout = std::atoi(argv[++i]);
    } else if (a == "--wire") {
      wire = true;
    } else if (a == "--lateness") {
      lateness = true;
    } else if (a == "--pref" && i + 1 < argc) {
      std::string p = argv[++i];
      size_t eq = p.find('=');
      if (eq == std::string::npos) return std::fprintf(stderr, "--pref NAME=VALUE\n"), 64;
      prefs.emplace_back(p.substr(0, eq), p.substr(eq + 1));
    } else {
      std::fprintf(stderr,
                   "usage: purple_peer --dir CONFIG_DIR [--plugins DIR] [--pref NAME=VALUE]... "
                   "[--timeout SECONDS] [--wire] [--lateness]\n");
      return 64;
    }
  }
  if (dir.empty()) return std::fprintf(stderr, "--dir is required\n"), 64;

  g_loop = g_main_loop_new(nullptr, FALSE);
  purple_util_set_user_dir(dir.c_str());
  purple_debug_set_enabled(std::getenv("PURPLE_PEER_DEBUG") != nullptr);
  g_core_ops.ui_init = UiInit;
  purple_core_set_ui_ops(&g_core_ops);
  g_eventloop_ops.timeout_add = g_timeout_add;
  g_eventloop_ops.timeout_remove = g_source_remove;
  g_eventloop_ops.input_add = InputAdd;
  g_eventloop_ops.input_remove = g_source_remove;
  g_eventloop_ops.timeout_add_seconds = g_timeout_add_seconds;
  purple_eventloop_set_ui_ops(&g_eventloop_ops);
  if (!plugins.empty()) purple_plugins_add_search_path(plugins.c_str());
  if (!purple_core_init(kUiId)) return std::fprintf(stderr, "libpurple did not start\n"), 1;
  purple_set_blist(purple_blist_new());
  purple_blist_load();

  // Transfers are offered on loopback only.
  purple_prefs_set_bool("/purple/network/auto_ip", FALSE);
  purple_prefs_set_string("/purple/network/public_ip", "127.0.0.1");
  purple_prefs_set_string("/purple/away/idle_reporting", "none");
  for (auto& [name, value] : prefs) SetPref(name, value);

  void* handle = purple_connections_get_handle();
  static int h;
  purple_signal_connect(handle, "signed-on", &h, PURPLE_CALLBACK(SignedOn), nullptr);
  purple_signal_connect(handle, "signed-off", &h, PURPLE_CALLBACK(SignedOff), nullptr);
  purple_signal_connect(handle, "connection-error", &h, PURPLE_CALLBACK(ConnectionError), nullptr);
  void* xfers = purple_xfers_get_handle();
  purple_signal_connect(xfers, "file-recv-request", &h, PURPLE_CALLBACK(FileRecvRequest), nullptr);
  purple_signal_connect(xfers, "file-recv-complete", &h, PURPLE_CALLBACK(XferDone), nullptr);
  purple_signal_connect(xfers, "file-send-complete", &h, PURPLE_CALLBACK(XferDone), nullptr);
  purple_signal_connect(xfers, "file-recv-cancel", &h, PURPLE_CALLBACK(XferCancel), nullptr);
  purple_signal_connect(xfers, "file-send-cancel", &h, PURPLE_CALLBACK(XferCancel), nullptr);
  if (wire) {
    if (PurplePlugin* irc = purple_find_prpl("prpl-irc"))
      purple_signal_connect(irc, "irc-receiving-text", &h, PURPLE_CALLBACK(IrcReceivingText),
                            nullptr);
    if (PurplePlugin* jabber = purple_find_prpl("prpl-jabber"))
      purple_signal_connect(jabber, "jabber-receiving-xmlnode", &h,
                            PURPLE_CALLBACK(JabberReceivingXmlnode), nullptr);
  }

  if (!plugins.empty()) {
    PurplePlugin* plugin = purple_plugins_find_with_id(kPluginId);
    if (!plugin || !purple_plugin_load(plugin)) {
      std::fprintf(stderr, "the plug-in %s was not found or did not load from %s\n", kPluginId,
                   plugins.c_str());
      return 1;
    }
    Emit("plugin loaded");
  }
  purple_savedstatus_activate(purple_savedstatus_new(nullptr, PURPLE_STATUS_AVAILABLE));

  GIOChannel* in = g_io_channel_unix_new(STDIN_FILENO);
  g_io_add_watch(in, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), StdinReadable,
                 nullptr);
  if (timeout > 0) g_timeout_add_seconds(timeout, TimedOut, nullptr);
  if (lateness) {
    g_lateness = &g_lateness_kept;
    g_lateness->last = g_get_monotonic_time();
    g_timeout_add(kProbeUs / 1000, LatenessProbe, nullptr);
  }
  Emit("ready");
  g_main_loop_run(g_loop);

  for (auto& [alias, account] : g_accounts) purple_account_set_enabled(account, kUiId, FALSE);
  purple_core_quit();
  return 0;
}
