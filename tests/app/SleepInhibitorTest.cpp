// The sleep inhibitor against stand-ins for logind and the desktop portal on a private bus started
// for the test, and with neither service there.
#include "SleepInhibitor.h"

#include "AppTestSupport.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QProcess>
#include <QThread>
#include <QVariantMap>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

namespace tarnel {
namespace {

// logind's Manager: hands out the write end of a pipe; the lock ends when every copy is closed,
// which the read end sees as the end of the pipe.
class TFakeLogind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    int readEnd = -1;
    QString what, mode;

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& inhibited, const QString&, const QString&,
                                    const QString& how) {
        what = inhibited;
        mode = how;
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0)
            return {};
        readEnd = ends[0];
        QDBusUnixFileDescriptor lock(ends[1]); // a copy of the write end
        close(ends[1]);
        return lock;
    }
};

// The portal's Inhibit and the request object whose Close ends the lock.
class TFakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Inhibit")
public:
    uint flags = 0;
    QString reason;

public slots:
    QDBusObjectPath Inhibit(const QString&, uint asked, const QVariantMap& options) {
        flags = asked;
        reason = options.value("reason").toString();
        return QDBusObjectPath("/org/freedesktop/portal/desktop/request/1_1/t");
    }
};

class TFakeRequest : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")
public:
    std::atomic<int> closes{0};

public slots:
    void Close() { ++closes; }
};

// A private message bus and a service connection whose objects answer on a thread of their own,
// so that the inhibitor's blocking calls from the test's thread are answered.
class SleepInhibitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        ASSERT_TRUE(daemon_.waitForStarted(5000)) << "dbus-daemon";
        ASSERT_TRUE(daemon_.waitForReadyRead(5000));
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        ASSERT_FALSE(address_.isEmpty());
        services_.start();
    }
    void TearDown() override {
        services_.quit();
        services_.wait();
        QDBusConnection::disconnectFromBus("services");
        QDBusConnection::disconnectFromBus("client");
        daemon_.kill();
        daemon_.waitForFinished(5000);
    }
    QDBusConnection Bus(const char* name) { return QDBusConnection::connectToBus(address_, name); }
    // Puts `object` on the bus under `service` and `path`, answering on the services' thread.
    void Offer(QObject& object, const char* service, const char* path) {
        object.moveToThread(&services_);
        QDBusConnection bus = Bus("services");
        ASSERT_TRUE(bus.registerService(service));
        ASSERT_TRUE(bus.registerObject(path, &object, QDBusConnection::ExportAllSlots));
    }
    QDBusConnection Unreachable() {
        return QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "none");
    }

    QProcess daemon_;
    QString address_;
    QThread services_;
};

bool PipeEnded(int readEnd) {
    pollfd poll_{readEnd, POLLIN, 0};
    char byte;
    return poll(&poll_, 1, 2000) == 1 && read(readEnd, &byte, 1) == 0;
}

TEST_F(SleepInhibitorTest, HoldsLogindsLockUntilReleased) {
    TFakeLogind logind;
    Offer(logind, "org.freedesktop.login1", "/org/freedesktop/login1");
    {
        TSleepInhibitor inhibitor(Bus("client"), Unreachable());
        ASSERT_EQ(inhibitor.Hold("Converting 3 files"), TSleepInhibitor::TVia::Logind);
        EXPECT_EQ(logind.what, "sleep:idle");
        EXPECT_EQ(logind.mode, "block");
        pollfd waiting{logind.readEnd, POLLIN, 0};
        EXPECT_EQ(poll(&waiting, 1, 100), 0) << "the lock is held";
        inhibitor.Release();
        EXPECT_EQ(inhibitor.HeldVia(), TSleepInhibitor::TVia::None);
    }
    EXPECT_TRUE(PipeEnded(logind.readEnd)) << "releasing closed the lock";
    close(logind.readEnd);
}

TEST_F(SleepInhibitorTest, FallsBackToThePortalAndClosesItsRequest) {
    TFakePortal portal;
    TFakeRequest request;
    Offer(portal, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop");
    Offer(request, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop/request/1_1/t");
    {
        TSleepInhibitor inhibitor(Unreachable(), Bus("client"));
        ASSERT_EQ(inhibitor.Hold("Converting 1 file"), TSleepInhibitor::TVia::Portal);
        EXPECT_EQ(portal.flags, 4u | 8u) << "suspending and idling";
        EXPECT_EQ(portal.reason, "Converting 1 file");
    } // released with the inhibitor
    EXPECT_TRUE(test::WaitUntil([&] { return request.closes == 1; }, 2000));
}

TEST_F(SleepInhibitorTest, WithoutEitherServiceNothingIsHeld) {
    TSleepInhibitor onEmptyBuses(Bus("client"), Bus("client"));
    EXPECT_EQ(onEmptyBuses.Hold("Converting"), TSleepInhibitor::TVia::None);
    TSleepInhibitor withoutBuses(Unreachable(), Unreachable());
    EXPECT_EQ(withoutBuses.Hold("Converting"), TSleepInhibitor::TVia::None);
    withoutBuses.Release();
}

} // namespace
} // namespace tarnel

#include "SleepInhibitorTest.moc"
