// autodeliver-notify-sim: stands in for the desktop's notification service
// (org.freedesktop.Notifications on the session bus) and records every
// notification it is asked to show, so a test can check what the program
// told the seller without a desktop.
//
//   DBUS_SESSION_BUS_ADDRESS=... autodeliver-notify-sim [--markup]
//
// Once it owns the service name it prints "ready" on standard output; then
// one line of JSON (UTF-8) per Notify call, flushed at once:
//
//   {"id": 1, "app_name": "...", "replaces_id": 0, "app_icon": "...",
//    "summary": "...", "body": "...", "actions": [], "hints":
//    {"urgency": "byte 0x01", ...}, "expire_timeout": -1}
//
// (string hints as they are, other hint values in GVariant text form).
// GetCapabilities answers "body", and "body-markup" too with --markup;
// GetServerInformation names this tool; CloseNotification answers nothing.
// It ends on SIGINT / SIGTERM, and with exit code 1 when it cannot own the
// name (another service holds it) or loses the bus.
#include <gio/gio.h>
#include <glib-unix.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/json_text.h"

namespace {

constexpr char kIntrospection[] = R"(<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" name="app_name" direction="in"/>
      <arg type="u" name="replaces_id" direction="in"/>
      <arg type="s" name="app_icon" direction="in"/>
      <arg type="s" name="summary" direction="in"/>
      <arg type="s" name="body" direction="in"/>
      <arg type="as" name="actions" direction="in"/>
      <arg type="a{sv}" name="hints" direction="in"/>
      <arg type="i" name="expire_timeout" direction="in"/>
      <arg type="u" name="id" direction="out"/>
    </method>
    <method name="CloseNotification">
      <arg type="u" name="id" direction="in"/>
    </method>
    <method name="GetCapabilities">
      <arg type="as" name="capabilities" direction="out"/>
    </method>
    <method name="GetServerInformation">
      <arg type="s" name="name" direction="out"/>
      <arg type="s" name="vendor" direction="out"/>
      <arg type="s" name="version" direction="out"/>
      <arg type="s" name="spec_version" direction="out"/>
    </method>
    <signal name="NotificationClosed">
      <arg type="u" name="id"/>
      <arg type="u" name="reason"/>
    </signal>
  </interface>
</node>)";

struct Server {
  GMainLoop* loop = nullptr;
  bool markup = false;
  guint nextId = 1;
  int exitCode = 0;
};

std::string Json(const char* utf8) { return autodeliver::JsonString(utf8 == nullptr ? "" : utf8); }

// One JSON line for a Notify call.
std::string NotifyLine(guint id, GVariant* parameters) {
  const gchar *appName, *appIcon, *summary, *body;
  guint32 replacesId;
  GVariantIter* actions;
  GVariantIter* hints;
  gint32 expireTimeout;
  g_variant_get(parameters, "(&su&s&s&sasa{sv}i)", &appName, &replacesId, &appIcon, &summary, &body, &actions,
                &hints, &expireTimeout);
  std::string line = "{\"id\": " + std::to_string(id) + ", \"app_name\": " + Json(appName) +
                     ", \"replaces_id\": " + std::to_string(replacesId) + ", \"app_icon\": " + Json(appIcon) +
                     ", \"summary\": " + Json(summary) + ", \"body\": " + Json(body) + ", \"actions\": [";
  const gchar* action;
  bool first = true;
  while (g_variant_iter_next(actions, "&s", &action)) {
    line += (first ? "" : ", ") + Json(action);
    first = false;
  }
  line += "], \"hints\": {";
  const gchar* key;
  GVariant* value;
  first = true;
  while (g_variant_iter_next(hints, "{&sv}", &key, &value)) {
    // Strings as they are, other values in GVariant text form.
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
      line += (first ? "" : ", ") + Json(key) + ": " + Json(g_variant_get_string(value, nullptr));
    } else {
      gchar* text = g_variant_print(value, TRUE);
      line += (first ? "" : ", ") + Json(key) + ": " + Json(text);
      g_free(text);
    }
    first = false;
    g_variant_unref(value);
  }
  line += "}, \"expire_timeout\": " + std::to_string(expireTimeout) + "}";
  g_variant_iter_free(actions);
  g_variant_iter_free(hints);
  return line;
}

void OnCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
            GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
  Server& server = *static_cast<Server*>(data);
  if (std::strcmp(method, "Notify") == 0) {
    const guint id = server.nextId++;
    std::printf("%s\n", NotifyLine(id, parameters).c_str());
    std::fflush(stdout);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", id));
  } else if (std::strcmp(method, "GetCapabilities") == 0) {
    GVariantBuilder caps;
    g_variant_builder_init(&caps, G_VARIANT_TYPE("as"));
    g_variant_builder_add(&caps, "s", "body");
    if (server.markup) g_variant_builder_add(&caps, "s", "body-markup");
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(as)", &caps));
  } else if (std::strcmp(method, "GetServerInformation") == 0) {
    g_dbus_method_invocation_return_value(
        invocation, g_variant_new("(ssss)", "autodeliver-notify-sim", "autodeliver", "1.0", "1.2"));
  } else if (std::strcmp(method, "CloseNotification") == 0) {
    g_dbus_method_invocation_return_value(invocation, nullptr);
  } else {
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod",
                                               "no such method");
  }
}

void OnBus(GDBusConnection* connection, const gchar*, gpointer data) {
  static const GDBusInterfaceVTable vtable = {OnCall, nullptr, nullptr, {}};
  GError* error = nullptr;
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, &error);
  if (node == nullptr ||
      g_dbus_connection_register_object(connection, "/org/freedesktop/Notifications", node->interfaces[0],
                                        &vtable, data, nullptr, &error) == 0) {
    std::fprintf(stderr, "autodeliver-notify-sim: %s\n", error ? error->message : "cannot register");
    g_clear_error(&error);
    Server& server = *static_cast<Server*>(data);
    server.exitCode = 1;
    g_main_loop_quit(server.loop);
  }
  if (node != nullptr) g_dbus_node_info_unref(node);
}

void OnName(GDBusConnection*, const gchar*, gpointer) {
  std::printf("ready\n");
  std::fflush(stdout);
}

void OnNameLost(GDBusConnection*, const gchar* name, gpointer data) {
  std::fprintf(stderr, "autodeliver-notify-sim: the name %s is not ours (no bus, or another service)\n",
               name);
  Server& server = *static_cast<Server*>(data);
  server.exitCode = 1;
  g_main_loop_quit(server.loop);
}

gboolean OnSignal(gpointer data) {
  g_main_loop_quit(static_cast<Server*>(data)->loop);
  return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
  Server server;
  CLI::App app{
      "A desktop notification service on the session bus that records what it is asked to show:\n"
      "it owns org.freedesktop.Notifications, prints \"ready\" once it does, then one JSON line per\n"
      "Notify call. SIGINT or SIGTERM end it. Exit status 2 for a usage error.",
      "autodeliver-notify-sim"};
  app.add_flag("--markup", server.markup, "Answer GetCapabilities with body-markup as well");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  server.loop = g_main_loop_new(nullptr, FALSE);
  g_unix_signal_add(SIGINT, OnSignal, &server);
  g_unix_signal_add(SIGTERM, OnSignal, &server);
  const guint owner =
      g_bus_own_name(G_BUS_TYPE_SESSION, "org.freedesktop.Notifications", G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE,
                     OnBus, OnName, OnNameLost, &server, nullptr);
  g_main_loop_run(server.loop);
  g_bus_unown_name(owner);
  g_main_loop_unref(server.loop);
  return server.exitCode;
}
