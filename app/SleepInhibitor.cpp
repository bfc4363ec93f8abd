#include "SleepInhibitor.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QVariantMap>

namespace tarnel {

namespace {

constexpr int kCallTimeoutMs = 2000;
// The portal's flags: 4 suspending, 8 the session going idle.
constexpr uint kPortalSuspendAndIdle = 4 | 8;

} // namespace

TSleepInhibitor::TVia TSleepInhibitor::Hold(const QString& reason) {
    if (via_ != TVia::None)
        return via_;
    if (HoldThroughLogind(reason))
        via_ = TVia::Logind;
    else if (HoldThroughPortal(reason))
        via_ = TVia::Portal;
    return via_;
}

bool TSleepInhibitor::HoldThroughLogind(const QString& reason) {
    QDBusConnection& bus = systemBus_;
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                                       "org.freedesktop.login1.Manager", "Inhibit");
    call << QString("sleep:idle") << QString("Tarnel") << reason << QString("block");
    const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (!reply.isValid() || !reply.value().isValid())
        return false;
    logindLock_ = reply.value();
    return true;
}

bool TSleepInhibitor::HoldThroughPortal(const QString& reason) {
    QDBusConnection& bus = sessionBus_;
    if (!bus.isConnected())
        return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                                       "org.freedesktop.portal.Inhibit", "Inhibit");
    call << QString() << kPortalSuspendAndIdle << QVariantMap{{"reason", reason}};
    const QDBusReply<QDBusObjectPath> reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (!reply.isValid())
        return false;
    portalRequest_ = reply.value().path();
    return true;
}

void TSleepInhibitor::Release() {
    if (via_ == TVia::Logind) {
        // The descriptor is shared with nothing else: dropping it closes it, which ends the lock.
        logindLock_ = QDBusUnixFileDescriptor();
    } else if (via_ == TVia::Portal) {
        sessionBus_.call(QDBusMessage::createMethodCall("org.freedesktop.portal.Desktop", portalRequest_,
                                                        "org.freedesktop.portal.Request", "Close"),
                         QDBus::NoBlock);
        portalRequest_.clear();
    }
    via_ = TVia::None;
}

} // namespace tarnel
