// Keeps the session from sleeping or going idle while a batch converts: an inhibitor lock from
// logind (org.freedesktop.login1), or the desktop portal's Inhibit where logind cannot be reached.
// Held from Hold until Release or destruction; a lock the process still holds ends with it, since
// logind's lock is a file descriptor and the portal's ends with the bus connection. Without either
// service nothing is held and nothing fails.
#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QString>
#include <utility>

namespace tarnel {

class TSleepInhibitor {
public:
    enum class TVia { None, Logind, Portal };

    // The system bus reaches logind, the session bus the portal.
    TSleepInhibitor(QDBusConnection systemBus = QDBusConnection::systemBus(),
                    QDBusConnection sessionBus = QDBusConnection::sessionBus())
        : systemBus_(std::move(systemBus))
        , sessionBus_(std::move(sessionBus)) {}
    ~TSleepInhibitor() { Release(); }
    TSleepInhibitor(const TSleepInhibitor&) = delete;
    TSleepInhibitor& operator=(const TSleepInhibitor&) = delete;

    // Asks for the lock with `reason` shown to the user by the desktop; what holds it now.
    TVia Hold(const QString& reason);
    void Release();
    TVia HeldVia() const { return via_; }

private:
    bool HoldThroughLogind(const QString& reason);
    bool HoldThroughPortal(const QString& reason);

    QDBusConnection systemBus_;
    QDBusConnection sessionBus_;
    TVia via_ = TVia::None;
    QDBusUnixFileDescriptor logindLock_; // closing it ends logind's lock
    QString portalRequest_;              // the portal's request object; closing it ends the lock
};

} // namespace tarnel
