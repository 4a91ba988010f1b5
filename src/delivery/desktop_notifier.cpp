// Desktop notifications over D-Bus; see desktop_notifier.h.
#include "delivery/desktop_notifier.h"

#include <gio/gio.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <optional>

namespace autodeliver {
namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kObject[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = "org.freedesktop.Notifications";
constexpr char kAppName[] = "自动发货";
// The installed desktop entry and icon are named by the application id
// (packaging/), so the desktop finds the program's name and icon by it.
constexpr char kAppId[] = AUTODELIVER_APP_ID;

// The session bus's address when one is configured; never an autolaunch.
std::optional<std::string> SessionBusAddress() {
  const char* env = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (env != nullptr && *env != '\0') return std::string(env);
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') {
    const std::string socket = std::string(runtime) + "/bus";
    struct stat st {};
    if (::stat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return "unix:path=" + socket;
  }
  return std::nullopt;
}

// `text` as valid UTF-8 (GVariant strings must be).
std::string ValidUtf8(const std::string& text) {
  if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text;
  gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  std::string out(valid);
  g_free(valid);
  return out;
}

std::string MarkupEscaped(const std::string& text) {
  gchar* escaped = g_markup_escape_text(text.data(), static_cast<gssize>(text.size()));
  std::string out(escaped);
  g_free(escaped);
  return out;
}

bool Urgent(NotificationKind kind) {
  return kind == NotificationKind::kImFailed || kind == NotificationKind::kLoginExpired;
}

}  // namespace

// The bus connection of the notifier's thread and what the service said it
// understands.
struct DesktopNotifier::Connection {
  GDBusConnection* bus = nullptr;
  bool bodyMarkup = false;

  ~Connection() {
    if (bus != nullptr) g_object_unref(bus);
  }

  bool Open(const std::string& configured) {
    const std::optional<std::string> address = configured.empty() ? SessionBusAddress() : configured;
    if (!address) return false;
    GError* error = nullptr;
    bus = g_dbus_connection_new_for_address_sync(
        address->c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (bus == nullptr) {
      g_clear_error(&error);
      return false;
    }
    g_dbus_connection_set_exit_on_close(bus, FALSE);
    // What the service understands; a service that does not answer is
    // taken to understand plain text only.
    GVariant* reply = g_dbus_connection_call_sync(bus, kService, kObject, kInterface, "GetCapabilities",
                                                  nullptr, G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE,
                                                  static_cast<gint>(kCallBound.count()), nullptr, &error);
    if (reply != nullptr) {
      GVariantIter* capabilities = nullptr;
      g_variant_get(reply, "(as)", &capabilities);
      const gchar* capability = nullptr;
      while (g_variant_iter_next(capabilities, "&s", &capability)) {
        if (g_strcmp0(capability, "body-markup") == 0) bodyMarkup = true;
      }
      g_variant_iter_free(capabilities);
      g_variant_unref(reply);
    }
    g_clear_error(&error);
    return true;
  }

  bool Send(const Notification& n) {
    const std::string summary = ValidUtf8(n.summary);
    const std::string body = bodyMarkup ? MarkupEscaped(ValidUtf8(n.body)) : ValidUtf8(n.body);
    GVariantBuilder actions;
    g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(Urgent(n.kind) ? 2 : 1));
    g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string(kAppId));
    GVariant* parameters = g_variant_new("(susssasa{sv}i)", kAppName, 0u, kAppId, summary.c_str(),
                                         body.c_str(), &actions, &hints, -1);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(bus, kService, kObject, kInterface, "Notify", parameters,
                                                  G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE,
                                                  static_cast<gint>(kCallBound.count()), nullptr, &error);
    g_clear_error(&error);
    if (reply == nullptr) return false;
    g_variant_unref(reply);
    return true;
  }
};

DesktopNotifier::DesktopNotifier(std::string busAddress) : busAddress_(std::move(busAddress)) {}

DesktopNotifier::~DesktopNotifier() {
  {
    MutexLock lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void DesktopNotifier::Notify(const Notification& notification) {
  {
    MutexLock lock(mutex_);
    if (stopping_) return;
    if (queue_.size() >= kQueueBound) {
      ++failed_;
      return;
    }
    queue_.push_back(notification);
    if (!thread_.joinable()) thread_ = std::thread(&DesktopNotifier::Run, this);
  }
  wake_.notify_one();
}

bool DesktopNotifier::WaitIdle(std::chrono::milliseconds bound) {
  MutexLock lock(mutex_);
  return idle_.wait_for(lock, bound, [this]() AD_REQUIRES(mutex_) { return queue_.empty() && !busy_; });
}

int DesktopNotifier::shown() const {
  MutexLock lock(mutex_);
  return shown_;
}

int DesktopNotifier::failed() const {
  MutexLock lock(mutex_);
  return failed_;
}

void DesktopNotifier::Run() {
  std::unique_ptr<Connection> connection;
  MutexLock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this]() AD_REQUIRES(mutex_) { return stopping_ || !queue_.empty(); });
    if (stopping_) break;
    const Notification next = queue_.front();
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    if (!connection) {
      connection = std::make_unique<Connection>();
      if (!connection->Open(busAddress_)) connection.reset();
    }
    bool sent = connection && connection->Send(next);
    // A connection that the bus closed is made anew once.
    if (!sent && connection && g_dbus_connection_is_closed(connection->bus)) {
      connection = std::make_unique<Connection>();
      sent = connection->Open(busAddress_) && connection->Send(next);
      if (!sent) connection.reset();
    }
    lock.lock();
    busy_ = false;
    ++(sent ? shown_ : failed_);
    if (queue_.empty()) idle_.notify_all();
  }
  busy_ = false;
  idle_.notify_all();
  lock.unlock();
}

}  // namespace autodeliver
