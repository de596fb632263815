// XMPP: pieces as elements of the plug-in's namespace (wire_carriers.h),
// through libpurple's XMPP protocol plug-in (libjabber) and what it offers
// other plug-ins: the signals "jabber-receiving-iq", "-message" and
// "-presence" to see and take stanzas, "jabber-sending-xmlnode" to send
// one, and the calls "add_feature" (advertised in service discovery and
// entity capabilities) and "contact_has_feature".
//
// A frame goes by IQ "set" to the contact's full address, one piece at a
// time: the next piece goes when the contact's client answered the last
// with an IQ result. So a reply never fills the link ahead of the user's
// messages by more than a piece, and a client without the plug-in answers
// the first piece with an error, which tells the user at once. Which of a
// contact's resources is asked: the one whose capabilities name the
// namespace, else the one of highest priority, as their presence said;
// when no resource is known the request goes as a message without a body
// to the bare address, not to be stored or copied.
#include <glib.h>
#include <gmodule.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <random>

#include "purple/transport.h"
#include "purple/wire_carriers.h"

extern "C" {
#include <blist.h>
#include <connection.h>
#include <debug.h>
#include <signals.h>
#include <util.h>
#include <xmlnode.h>
}

namespace zuvo::purple {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kStanzaErrors[] = "urn:ietf:params:xml:ns:xmpp-stanzas";
// An IQ not answered in this time is taken as an error.
constexpr auto kIqLimit = std::chrono::seconds(60);
// What waits to be sent: frames per address, bytes in all.
constexpr size_t kMaxFramesPerTarget = 8;
constexpr size_t kMaxWaitingBytes = size_t{16} << 20;
// Resources remembered per contact.
constexpr size_t kMaxResources = 16;

std::string Bare(const std::string& jid) { return jid.substr(0, jid.find('/')); }

xmlnode* Stanza(const char* name, const char* type, const std::string& to, const std::string& id) {
  xmlnode* stanza = xmlnode_new(name);
  if (type) xmlnode_set_attrib(stanza, "type", type);
  xmlnode_set_attrib(stanza, "to", to.c_str());
  xmlnode_set_attrib(stanza, "id", id.c_str());
  return stanza;
}

std::string NewStanzaId() {
  static std::mt19937_64 random{std::random_device{}()};
  char id[24];
  g_snprintf(id, sizeof id, "zfs%016llx", static_cast<unsigned long long>(random()));
  return id;
}

// The piece element of a stanza, of any version of the namespace.
xmlnode* PieceChild(xmlnode* stanza) {
  for (xmlnode* child = stanza ? stanza->child : nullptr; child; child = child->next) {
    const char* ns = child->type == XMLNODE_TYPE_TAG ? xmlnode_get_namespace(child) : nullptr;
    if (ns && g_str_has_prefix(ns, kXmppNamespacePrefix) &&
        g_strcmp0(child->name, kXmppPieceElement) == 0) {
      return child;
    }
  }
  return nullptr;
}

class XmppTransport : public Transport {
 public:
  XmppTransport(PurplePlugin* prpl, TransportSink& sink) : prpl_(prpl), sink_(sink) {
    purple_signal_connect(prpl_, "jabber-receiving-iq", this, PURPLE_CALLBACK(OnIq), this);
    purple_signal_connect(prpl_, "jabber-receiving-message", this, PURPLE_CALLBACK(OnMessage),
                          this);
    purple_signal_connect(prpl_, "jabber-receiving-presence", this, PURPLE_CALLBACK(OnPresence),
                          this);
    purple_signal_connect(purple_connections_get_handle(), "signed-off", this,
                          PURPLE_CALLBACK(OnSignedOff), this);
    gboolean ok = FALSE;
    purple_plugin_ipc_call(prpl_, "add_feature", &ok, kXmppNamespace);
    if (!ok) purple_debug_warning("zuvo-file-sharing", "the XMPP feature is not advertised\n");
    tick_ = g_timeout_add_seconds(5, OnTick, this);
  }

  ~XmppTransport() override {
    purple_signals_disconnect_by_handle(this);
    if (tick_) g_source_remove(tick_);
    // libjabber has no call to take a feature back; where its functions
    // are there, the feature goes, and contacts learn it with the next
    // presence.
    gpointer remove = nullptr, broadcast = nullptr;
    auto* module = static_cast<GModule*>(prpl_->handle);
    if (module && g_module_symbol(module, "jabber_remove_feature", &remove) &&
        g_module_symbol(module, "jabber_caps_broadcast_change", &broadcast)) {
      reinterpret_cast<void (*)(const char*)>(remove)(kXmppNamespace);
      reinterpret_cast<void (*)()>(broadcast)();
    }
  }

  bool Send(PurpleAccount* account, const std::string& who, FrameKind kind,
            std::string_view message, bool answer) override {
    PurpleConnection* gc = purple_account_get_connection(account);
    if (!gc || !purple_account_is_connected(account)) return false;
    const size_t payloadChars = kXmppPieceBytes / 4 * 4;
    EncodedFrame frame = EncodeFrame(kind, message, NewFrameId(), payloadChars);
    if (frame.payloads.empty()) return false;
    const std::string to = FullAddress(account, who);
    if (to.empty()) return SendAsMessages(gc, who, frame);

    size_t bytes = 0;
    for (const std::string& payload : frame.payloads) bytes += payload.size();
    Target& target = targets_[{account, to}];
    if (target.frames.size() >= kMaxFramesPerTarget || waitingBytes_ + bytes > kMaxWaitingBytes) {
      purple_debug_warning("zuvo-file-sharing",
                           "too much waits to be sent to %s; a frame dropped\n", to.c_str());
      if (target.frames.empty()) targets_.erase({account, to});
      return false;
    }
    waitingBytes_ += bytes;
    target.frames.push_back({std::move(frame), 0, bytes, who, !answer});
    Pump(gc, account, to);
    return true;
  }

  std::chrono::seconds AnswerLimit() const override { return std::chrono::seconds(30); }

 private:
  struct Outgoing {
    EncodedFrame frame;
    size_t next = 0;
    size_t bytes = 0;
    std::string who;  // as the host named the contact
    // Sent for the user's request (the request, or the handshake or record
    // that carries it), not in answer: its fate is the request's.
    bool request = false;
  };
  struct Target {
    std::deque<Outgoing> frames;
    std::string inFlight;  // the id of the IQ awaiting its answer
    Clock::time_point sent;
  };
  using TargetKey = std::pair<PurpleAccount*, std::string>;
  struct Resource {
    std::string name;
    int priority = 0;
  };

  void Emit(PurpleConnection* gc, xmlnode* stanza) {
    purple_signal_emit(prpl_, "jabber-sending-xmlnode", gc, &stanza);
    if (stanza) xmlnode_free(stanza);
  }

  static xmlnode* PieceElement(const Piece& piece) {
    xmlnode* element = xmlnode_new(kXmppPieceElement);
    xmlnode_set_namespace(element, kXmppNamespace);
    const std::vector<std::string> values = PieceAttributes(piece);
    const char* names[] = {"id", "index", "count", "kind", "flags"};
    for (size_t i = 0; i < values.size(); ++i)
      xmlnode_set_attrib(element, names[i], values[i].c_str());
    if (!piece.payload.empty()) {
      xmlnode_insert_data(element, piece.payload.data(), static_cast<gssize>(piece.payload.size()));
    }
    return element;
  }

  // The contact's full address to send to, or empty when none is known:
  // the one named when its presence is known (or none is), else the best
  // resource their presence gave.
  std::string FullAddress(PurpleAccount* account, const std::string& who) {
    const size_t slash = who.find('/');
    const std::vector<Resource>* resources = nullptr;
    if (auto byAccount = presence_.find(account); byAccount != presence_.end()) {
      if (auto found = byAccount->second.find(Normalized(account, who));
          found != byAccount->second.end()) {
        resources = &found->second;
      }
    }
    if (slash != std::string::npos &&
        (!resources || std::any_of(resources->begin(), resources->end(), [&](const Resource& r) {
          return r.name == who.substr(slash + 1);
        }))) {
      return who;
    }
    if (!resources) return {};
    std::string best;
    std::pair<bool, int> bestRank{false, 0};
    for (const Resource& resource : *resources) {
      const std::string jid = Bare(who) + "/" + resource.name;
      gboolean ok = FALSE;
      const bool has =
          GPOINTER_TO_INT(purple_plugin_ipc_call(prpl_, "contact_has_feature", &ok, account,
                                                 jid.c_str(), kXmppNamespace)) &&
          ok;
      const std::pair<bool, int> rank{has, resource.priority};
      if (best.empty() || rank > bestRank) best = jid, bestRank = rank;
    }
    return best;
  }

  static std::string Normalized(PurpleAccount* account, const std::string& jid) {
    const char* normalized = purple_normalize(account, Bare(jid).c_str());
    return normalized ? normalized : Bare(jid);
  }

  bool SendAsMessages(PurpleConnection* gc, const std::string& who, const EncodedFrame& frame) {
    for (size_t i = 0; i < frame.payloads.size(); ++i) {
      xmlnode* message = Stanza("message", nullptr, Bare(who), NewStanzaId());
      xmlnode_insert_child(message, PieceElement(frame.piece(i)));
      for (const char* hint : {"no-store", "no-permanent-store", "no-copy"}) {
        xmlnode_set_namespace(xmlnode_new_child(message, hint), "urn:xmpp:hints");
      }
      xmlnode_set_namespace(xmlnode_new_child(message, "private"), "urn:xmpp:carbons:2");
      Emit(gc, message);
    }
    return true;
  }

  // Sends the next piece to |to| when none awaits its answer.
  void Pump(PurpleConnection* gc, PurpleAccount* account, const std::string& to) {
    auto it = targets_.find({account, to});
    if (it == targets_.end()) return;
    Target& target = it->second;
    if (!target.inFlight.empty()) return;
    if (target.frames.empty()) {
      targets_.erase(it);
      return;
    }
    const Outgoing& outgoing = target.frames.front();
    target.inFlight = NewStanzaId();
    target.sent = Clock::now();
    inFlight_[target.inFlight] = {account, to};
    xmlnode* iq = Stanza("iq", "set", to, target.inFlight);
    xmlnode_insert_child(iq, PieceElement(outgoing.frame.piece(outgoing.next)));
    Emit(gc, iq);
  }

  // The answer to the IQ |id| from |from|: |taken| a result, else an error.
  bool Answered(PurpleConnection* gc, const std::string& id, const char* from, bool taken) {
    auto flying = inFlight_.find(id);
    if (flying == inFlight_.end()) return false;
    const TargetKey key = flying->second;
    if (from && g_ascii_strcasecmp(from, key.second.c_str()) != 0) return false;
    inFlight_.erase(flying);
    auto it = targets_.find(key);
    if (it == targets_.end()) return true;
    Target& target = it->second;
    target.inFlight.clear();
    Outgoing& outgoing = target.frames.front();
    if (outgoing.request && outgoing.next == 0) {
      sink_.RequestDelivered(
          key.first, outgoing.who,
          taken ? TransportSink::Delivery::kTaken : TransportSink::Delivery::kRefused);
    }
    if (!taken || ++outgoing.next == outgoing.frame.payloads.size()) {
      if (!taken) {
        purple_debug_info("zuvo-file-sharing", "%s did not take a frame; the rest is not sent\n",
                          key.second.c_str());
      }
      waitingBytes_ -= outgoing.bytes;
      target.frames.pop_front();
    }
    if (gc) Pump(gc, key.first, key.second);
    return true;
  }

  void Reply(PurpleConnection* gc, const char* to, const char* id, const char* condition) {
    xmlnode* iq = Stanza("iq", condition ? "error" : "result", to, id ? id : "");
    if (condition) {
      xmlnode* error = xmlnode_new_child(iq, "error");
      xmlnode_set_attrib(error, "type", "cancel");
      xmlnode_set_namespace(xmlnode_new_child(error, condition), kStanzaErrors);
    }
    Emit(gc, iq);
  }

  // Reads a piece element; what it holds goes to the host.
  PieceKind Hear(PurpleConnection* gc, const char* from, xmlnode* element) {
    PieceFields fields;
    fields.ns = xmlnode_get_namespace(element);
    fields.id = xmlnode_get_attrib(element, "id");
    fields.index = xmlnode_get_attrib(element, "index");
    fields.count = xmlnode_get_attrib(element, "count");
    fields.kind = xmlnode_get_attrib(element, "kind");
    fields.flags = xmlnode_get_attrib(element, "flags");
    gchar* data = xmlnode_get_data(element);
    if (data) fields.payload = data;
    std::string storage;
    Piece piece;
    const PieceKind kind = ReadPieceFields(fields, storage, piece);
    g_free(data);
    sink_.HeardPiece(purple_connection_get_account(gc), from, kind, piece);
    return kind;
  }

  // ---- Signals ----

  static gboolean OnIq(PurpleConnection* gc, const char* type, const char* id, const char* from,
                       xmlnode* iq, gpointer data) {
    auto* self = static_cast<XmppTransport*>(data);
    if (!type || !id) return FALSE;
    if (g_str_equal(type, "result") || g_str_equal(type, "error")) {
      return self->Answered(gc, id, from, g_str_equal(type, "result")) ? TRUE : FALSE;
    }
    xmlnode* element = PieceChild(iq);
    if (!element || !from || !g_str_equal(type, "set")) return FALSE;
    switch (self->Hear(gc, from, element)) {
      case PieceKind::kPiece:
        self->Reply(gc, from, id, nullptr);
        break;
      case PieceKind::kMalformed:
        self->Reply(gc, from, id, "bad-request");
        break;
      default:
        self->Reply(gc, from, id, "feature-not-implemented");
        break;
    }
    return TRUE;
  }

  static gboolean OnMessage(PurpleConnection* gc, const char* type, const char*, const char* from,
                            const char*, xmlnode* message, gpointer data) {
    auto* self = static_cast<XmppTransport*>(data);
    xmlnode* element = PieceChild(message);
    if (!element || !from) return FALSE;
    if (g_strcmp0(type, "error") == 0) {
      // A request sent as a message came back.
      self->sink_.RequestDelivered(purple_connection_get_account(gc), from,
                                   TransportSink::Delivery::kRefused);
    } else {
      self->Hear(gc, from, element);
    }
    return TRUE;
  }

  // Remembers the resources of buddies, with their priority.
  static gboolean OnPresence(PurpleConnection* gc, const char* type, const char* from,
                             xmlnode* presence, gpointer data) {
    auto* self = static_cast<XmppTransport*>(data);
    if (!from || !std::strchr(from, '/')) return FALSE;
    PurpleAccount* account = purple_connection_get_account(gc);
    const std::string jid = from;
    if (!purple_find_buddy(account, Bare(jid).c_str())) return FALSE;
    const bool available = !type || g_str_equal(type, "available");
    if (!available && !g_str_equal(type, "unavailable")) return FALSE;
    auto& contacts = self->presence_[account];
    const std::string contact = Normalized(account, jid);
    std::vector<Resource>& resources = contacts[contact];
    const std::string name = jid.substr(jid.find('/') + 1);
    std::erase_if(resources, [&](const Resource& r) { return r.name == name; });
    if (!available) {
      if (resources.empty()) contacts.erase(contact);
      return FALSE;
    }
    int priority = 0;
    if (xmlnode* p = xmlnode_get_child(presence, "priority")) {
      gchar* text = xmlnode_get_data(p);
      if (text) priority = std::atoi(text);
      g_free(text);
    }
    if (resources.size() < kMaxResources) resources.push_back({name, priority});
    return FALSE;
  }

  static void OnSignedOff(PurpleConnection* gc, gpointer data) {
    auto* self = static_cast<XmppTransport*>(data);
    PurpleAccount* account = purple_connection_get_account(gc);
    self->presence_.erase(account);
    std::erase_if(self->inFlight_, [&](const auto& e) { return e.second.first == account; });
    std::erase_if(self->targets_, [&](const auto& e) {
      if (e.first.first != account) return false;
      for (const Outgoing& outgoing : e.second.frames) self->waitingBytes_ -= outgoing.bytes;
      return true;
    });
  }

  // IQs not answered in time count as errors.
  static gboolean OnTick(gpointer data) {
    auto* self = static_cast<XmppTransport*>(data);
    const Clock::time_point now = Clock::now();
    std::vector<std::string> late;
    for (const auto& [key, target] : self->targets_) {
      if (!target.inFlight.empty() && now - target.sent > kIqLimit) late.push_back(target.inFlight);
    }
    for (const std::string& id : late) {
      auto flying = self->inFlight_.find(id);
      if (flying == self->inFlight_.end()) continue;
      PurpleConnection* gc = purple_account_get_connection(flying->second.first);
      self->Answered(gc, id, nullptr, false);
    }
    return G_SOURCE_CONTINUE;
  }

  PurplePlugin* prpl_;
  TransportSink& sink_;
  guint tick_ = 0;
  std::map<TargetKey, Target> targets_;
  std::map<std::string, TargetKey> inFlight_;
  size_t waitingBytes_ = 0;
  // Per account: the resources of each buddy by normalized bare address.
  std::map<PurpleAccount*, std::map<std::string, std::vector<Resource>>> presence_;
};

}  // namespace

std::unique_ptr<Transport> CreateXmppTransport(PurplePlugin* prpl, TransportSink& sink) {
  return std::make_unique<XmppTransport>(prpl, sink);
}

}  // namespace zuvo::purple
