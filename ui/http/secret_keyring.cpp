#include "ui/http/secret_keyring.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QMap>
#include <QVariant>

#include "core/log.h"

namespace {

// A secret as the Secret Service sends it: (session, parameters, value, content type).
struct dbus_secret {
  QDBusObjectPath session;
  QByteArray parameters;
  QByteArray value;
  QString content_type;
};

QDBusArgument& operator<<(QDBusArgument& out, const dbus_secret& secret) {
  out.beginStructure();
  out << secret.session << secret.parameters << secret.value << secret.content_type;
  out.endStructure();
  return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, dbus_secret& secret) {
  in.beginStructure();
  in >> secret.session >> secret.parameters >> secret.value >> secret.content_type;
  in.endStructure();
  return in;
}

}  // namespace

Q_DECLARE_METATYPE(dbus_secret)

namespace quorvane {

namespace {

using attribute_map = QMap<QString, QString>;

// A reply's argument of a compound type, which Qt hands over still marshalled.
template <class T>
T demarshal(const QVariant& argument) {
  if (argument.metaType() != QMetaType::fromType<QDBusArgument>()) return argument.value<T>();
  T value{};
  argument.value<QDBusArgument>() >> value;
  return value;
}

constexpr const char* service_name = "org.freedesktop.secrets";
constexpr const char* service_path = "/org/freedesktop/secrets";
constexpr const char* service_interface = "org.freedesktop.Secret.Service";

// The attributes that find the proxy password of `target` and `user`.
attribute_map attributes_of(const std::string& target, const std::string& user) {
  return {{QStringLiteral("xdg:schema"), QStringLiteral("software.tessaly.Quorvane.ProxyPassword")},
          {QStringLiteral("target"), QString::fromStdString(target)},
          {QStringLiteral("user"), QString::fromStdString(user)}};
}

// One conversation with the Secret Service: the calls, their failures put in words, and the session that
// secrets travel in, closed at the end.
class conversation {
 public:
  conversation(QDBusConnection& bus, int timeout_ms) : bus_(bus), timeout_ms_(timeout_ms) {
    qDBusRegisterMetaType<dbus_secret>();
    qDBusRegisterMetaType<attribute_map>();
  }
  ~conversation() {
    if (!session_.path().isEmpty()) call(session_.path(), "org.freedesktop.Secret.Session", "Close", {});
  }
  conversation(const conversation&) = delete;
  conversation& operator=(const conversation&) = delete;

  // Calls `method`; the reply's arguments, or nothing with `failure` set.
  std::optional<QList<QVariant>> call(const QString& path, const char* interface, const char* method,
                                      const QList<QVariant>& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        QString::fromLatin1(service_name), path, QString::fromLatin1(interface), QString::fromLatin1(method));
    message.setArguments(arguments);
    const QDBusMessage reply = bus_.call(message, QDBus::Block, timeout_ms_);
    if (reply.type() != QDBusMessage::ReplyMessage) {
      failure = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
      return std::nullopt;
    }
    return reply.arguments();
  }

  // Opens the session that secrets travel in, unencrypted on the user's own bus.
  bool open_session() {
    if (!bus_.isConnected()) {
      failure = QStringLiteral("there is no session bus");
      return false;
    }
    const auto reply = call(QString::fromLatin1(service_path), service_interface, "OpenSession",
                            {QStringLiteral("plain"), QVariant::fromValue(QDBusVariant(QString()))});
    if (!reply || reply->size() < 2) return false;
    session_ = reply->at(1).value<QDBusObjectPath>();
    return true;
  }

  // The unlocked items that hold the password of `attributes`; sets `failure` when only locked ones do.
  std::optional<QList<QDBusObjectPath>> search(const attribute_map& attributes) {
    const auto reply = call(QString::fromLatin1(service_path), service_interface, "SearchItems",
                            {QVariant::fromValue(attributes)});
    if (!reply || reply->size() < 2) return std::nullopt;
    const auto unlocked = demarshal<QList<QDBusObjectPath>>(reply->at(0));
    const auto locked = demarshal<QList<QDBusObjectPath>>(reply->at(1));
    if (unlocked.isEmpty() && !locked.isEmpty()) failure = QStringLiteral("the keyring is locked");
    return unlocked;
  }

  QDBusObjectPath session() const { return session_; }

  QString failure;

 private:
  QDBusConnection& bus_;
  int timeout_ms_;
  QDBusObjectPath session_;
};

}  // namespace

secret_keyring::secret_keyring() = default;

secret_keyring::secret_keyring(QDBusConnection bus, int timeout_ms)
    : bus_(std::make_unique<QDBusConnection>(std::move(bus))), timeout_ms_(timeout_ms) {}

QDBusConnection& secret_keyring::bus() {
  if (!bus_) bus_ = std::make_unique<QDBusConnection>(QDBusConnection::sessionBus());
  return *bus_;
}

bool secret_keyring::store(const std::string& target, const std::string& user, const std::string& password) {
  conversation talk(bus(), timeout_ms_);
  std::optional<QList<QVariant>> collection;
  if (talk.open_session()) {
    collection = talk.call(QString::fromLatin1(service_path), service_interface, "ReadAlias",
                           {QStringLiteral("default")});
  }
  const QDBusObjectPath path =
      collection && !collection->isEmpty() ? collection->at(0).value<QDBusObjectPath>() : QDBusObjectPath();
  if (collection && (path.path().isEmpty() || path.path() == QStringLiteral("/"))) {
    talk.failure = QStringLiteral("the keyring has no default collection");
  }
  std::optional<QList<QVariant>> created;
  if (talk.failure.isEmpty()) {
    QVariantMap properties;
    properties.insert(QStringLiteral("org.freedesktop.Secret.Item.Label"),
                      QStringLiteral("Quorvane proxy password for %1").arg(QString::fromStdString(target)));
    properties.insert(QStringLiteral("org.freedesktop.Secret.Item.Attributes"),
                      QVariant::fromValue(attributes_of(target, user)));
    const dbus_secret secret{talk.session(), QByteArray(), QByteArray::fromStdString(password),
                             QStringLiteral("text/plain")};
    created = talk.call(path.path(), "org.freedesktop.Secret.Collection", "CreateItem",
                        {properties, QVariant::fromValue(secret), /*replace=*/true});
  }
  // An item that needs a prompt (a locked collection) is not made without one.
  if (created && created->size() >= 2 &&
      created->at(1).value<QDBusObjectPath>().path() != QStringLiteral("/")) {
    talk.failure = QStringLiteral("the keyring is locked");
  }
  if (!talk.failure.isEmpty()) {
    QV_LOG(log_warning, "Unable to store the proxy password for '%s' in the keyring: %s", target.c_str(),
           talk.failure.toUtf8().constData());
    return false;
  }
  return true;
}

std::optional<std::string> secret_keyring::find(const std::string& target, const std::string& user) {
  conversation talk(bus(), timeout_ms_);
  std::optional<QList<QDBusObjectPath>> items;
  if (talk.open_session()) items = talk.search(attributes_of(target, user));
  std::optional<std::string> password;
  if (items && !items->isEmpty()) {
    const auto reply = talk.call(items->first().path(), "org.freedesktop.Secret.Item", "GetSecret",
                                 {QVariant::fromValue(talk.session())});
    if (reply && !reply->isEmpty()) {
      password = demarshal<dbus_secret>(reply->at(0)).value.toStdString();
    }
  } else if (items && talk.failure.isEmpty()) {
    talk.failure = QStringLiteral("it holds none");
  }
  if (!password) {
    QV_LOG(log_warning, "Unable to read the proxy password for '%s' from the keyring: %s", target.c_str(),
           talk.failure.toUtf8().constData());
  }
  return password;
}

bool secret_keyring::remove(const std::string& target, const std::string& user) {
  conversation talk(bus(), timeout_ms_);
  std::optional<QList<QDBusObjectPath>> items;
  if (talk.open_session()) items = talk.search(attributes_of(target, user));
  for (const QDBusObjectPath& item : items.value_or(QList<QDBusObjectPath>())) {
    if (!talk.call(item.path(), "org.freedesktop.Secret.Item", "Delete", {})) break;
  }
  if (!talk.failure.isEmpty()) {
    QV_LOG(log_warning, "Unable to remove the proxy password for '%s' from the keyring: %s", target.c_str(),
           talk.failure.toUtf8().constData());
    return false;
  }
  return true;
}

}  // namespace quorvane
