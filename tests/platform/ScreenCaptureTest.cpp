#include "platform/ScreenCapture.h"

#include "platform/PortalWindow.h"

#include "XServer.h"
#include "support/PrivateBus.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include <optional>

using namespace std::chrono_literals;

namespace {

const QColor kColour(0x33, 0x66, 0xcc);

// What the bus offers under the portal's name; noBus: the app has no session bus at all.
enum class Offer { noBus, nothing, desktopOnly, screenshot };

// How the fake desktop answers a Screenshot call.
struct Answer {
    std::optional<uint> response; // none: never answers
    bool ownPath = false;         // on a path of its own choosing, as portals before 0.9 did
    bool fileGone = false;        // names a picture that is not there
};

// A portal's Request: Close ends it, and no Response follows.
class FakeRequest : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")
public:
    bool closed = false;
public slots:
    void Close() { closed = true; }
};

// The portal by its rules: the Request's path made of the caller's unique name and its
// handle_token, the reply first and the Response right after it, broadcast, with the picture as
// a PNG file named by a file:// uri.
class FakePortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Screenshot")
public:
    FakePortal(QDBusConnection bus, Answer answer) : m_bus(bus), m_answer(answer) {}
    QString parentWindow;
    QVariantMap options;
    FakeRequest request;

public slots:
    QDBusObjectPath Screenshot(const QString& parent, const QVariantMap& given) {
        parentWindow = parent;
        options = given;
        const QString token = m_answer.ownPath
                                  ? QStringLiteral("portal1")
                                  : given.value(QStringLiteral("handle_token")).toString();
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                 .arg(message().service().mid(1).replace(u'.', u'_'), token);
        m_bus.registerObject(path, &request, QDBusConnection::ExportAllSlots);
        setDelayedReply(true);
        m_bus.send(message().createReply(QVariant::fromValue(QDBusObjectPath(path))));
        // Old portals answered only after their dialog; today's may answer a plain grab at once.
        if (m_answer.ownPath)
            QTimer::singleShot(100, this, [this, path] { respond(path); });
        else
            respond(path);
        return {};
    }

private:
    void respond(const QString& path) {
        if (!m_answer.response || request.closed)
            return;
        const QString file = m_folder.filePath(QStringLiteral("Screenshot.png"));
        QImage picture(40, 30, QImage::Format_RGB32);
        picture.fill(kColour);
        if (!m_answer.fileGone)
            picture.save(file);
        QVariantMap results;
        if (*m_answer.response == 0)
            results.insert(QStringLiteral("uri"), QUrl::fromLocalFile(file).toString());
        QDBusMessage signal = QDBusMessage::createSignal(
            path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        m_bus.send(signal << *m_answer.response << results);
    }

    QDBusConnection m_bus;
    Answer m_answer;
    QTemporaryDir m_folder;
};

struct ClosedAtEnd {
    QString name;
    ~ClosedAtEnd() { QDBusConnection::disconnectFromBus(name); }
};

// The fake portal's connection to a private bus, and the app's.
struct Desktop {
    Desktop(Offer offer, Answer answer) : portal(service, answer) {
        if (offer == Offer::desktopOnly || offer == Offer::screenshot) {
            EXPECT_TRUE(service.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
            // Without a Screenshot interface: the Request's only.
            QObject* object =
                offer == Offer::screenshot ? static_cast<QObject*>(&portal) : &portal.request;
            EXPECT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"),
                                               object, QDBusConnection::ExportAllSlots));
        }
    }
    PrivateBus bus;
    // Closed only after every copy is gone: libdbus aborts when a private connection loses its
    // last reference while open.
    const ClosedAtEnd closeService{QStringLiteral("portal")}, closeClient{QStringLiteral("app")};
    QDBusConnection service = QDBusConnection::connectToBus(bus.address(), "portal");
    QDBusConnection client = QDBusConnection::connectToBus(bus.address(), "app");
    FakePortal portal;
};

const char* const kRefused = "The desktop refused the screenshot.";
const char* const kUnreadable = "The screenshot the desktop took could not be read.";
const char* const kLate = "The desktop did not deliver the screenshot in time.";
const char* const kNoService = "No screenshot service is available on this desktop.";

struct PortalRow {
    const char* name;
    Offer offer;
    bool interactive;
    Answer answer;
    bool cancelled;
    const char* error; // empty with a picture or a cancel
};

std::ostream& operator<<(std::ostream& out, const PortalRow& row) {
    return out << row.name;
}

class PortalCapture : public testing::TestWithParam<PortalRow> {};

TEST_P(PortalCapture, EndsOnceAsTheDesktopAnswered) {
    const PortalRow& row = GetParam();
    Desktop desktop(row.offer, row.answer);
    ASSERT_TRUE(desktop.client.isConnected()) << "dbus-daemon did not start";
    const std::unique_ptr<ScreenCapture> capture = makeScreenCapture(
        row.offer == Offer::noBus ? QDBusConnection(QStringLiteral("none")) : desktop.client,
        QStringLiteral("offscreen"), {600ms, 600ms});
    // The dialog belongs to the window named, in the portals' own form.
    if (row.interactive)
        capture->setParentWindow(QStringLiteral("x11:3a00007"));
    QList<ScreenCapture::Result> results;
    capture->capture(row.interactive, [&](const ScreenCapture::Result& r) { results << r; });
    EXPECT_TRUE(results.isEmpty()) << "answered inside capture()";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !results.isEmpty(); }, 10000));

    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results[0].cancelled, row.cancelled);
    EXPECT_EQ(results[0].error.toStdString(), row.error);
    const bool picture = !row.cancelled && !*row.error;
    EXPECT_EQ(results[0].image.isNull(), !picture);
    if (picture) {
        EXPECT_EQ(results[0].image.size(), QSize(40, 30));
        EXPECT_EQ(results[0].image.pixelColor(20, 15), kColour);
    }
    if (row.offer == Offer::screenshot) {
        EXPECT_EQ(desktop.portal.options.value(QStringLiteral("interactive")).toBool(),
                  row.interactive);
        EXPECT_EQ(desktop.portal.parentWindow,
                  row.interactive ? QStringLiteral("x11:3a00007") : QString());
    }
    // Out of time, the desktop's dialog is closed rather than left for the user.
    if (row.offer == Offer::screenshot && !row.answer.response) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return desktop.portal.request.closed; }, 5000));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Portal, PortalCapture,
    testing::Values(
        PortalRow{"taken", Offer::screenshot, false, {0u}, false, ""},
        PortalRow{"areaPicked", Offer::screenshot, true, {0u}, false, ""},
        PortalRow{"onThePortalsOwnPath", Offer::screenshot, false, {0u, true}, false, ""},
        PortalRow{"cancelled", Offer::screenshot, true, {1u}, true, ""},
        PortalRow{"refused", Offer::screenshot, false, {2u}, false, kRefused},
        PortalRow{"unknownResponse", Offer::screenshot, false, {3u}, false, kRefused},
        PortalRow{"pictureGone", Offer::screenshot, false, {0u, false, true}, false, kUnreadable},
        PortalRow{"neverAnswers", Offer::screenshot, true, {}, false, kLate},
        PortalRow{"noSessionBus", Offer::noBus, false, {}, false, kNoService},
        PortalRow{"noPortal", Offer::nothing, false, {}, false, kNoService},
        PortalRow{"noScreenshotInterface", Offer::desktopOnly, false, {}, false, kNoService}),
    [](const testing::TestParamInfo<PortalRow>& info) { return std::string(info.param.name); });

TEST(PortalRequest, NamesItsWindowOnX11Only) {
    const struct {
        const char* platform;
        quintptr id;
        const char* handle;
    } rows[] = {{"xcb", 0x3a00007, "x11:3a00007"},
                {"xcb", 0, ""},
                {"wayland", 0x3a00007, ""},
                {"offscreen", 0x3a00007, ""}};
    for (const auto& row : rows)
        EXPECT_EQ(portalParentWindow(QString::fromUtf8(row.platform), row.id),
                  QString::fromUtf8(row.handle))
            << row.platform << ' ' << row.id;
}

// The user left while the desktop's dialog was up: it closes, and nobody hears of it.
TEST(PortalRequest, GoneBeforeTheAnswerClosesTheDialogAndAnswersNothing) {
    Desktop desktop(Offer::screenshot, {});
    int answers = 0;
    auto capture = makeScreenCapture(desktop.client, QStringLiteral("offscreen"), {300ms, 300ms});
    capture->capture(true, [&](const ScreenCapture::Result&) { ++answers; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !desktop.portal.options.isEmpty(); }, 5000));
    capture.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return desktop.portal.request.closed; }, 5000));
    QTest::qWait(400); // past the limit
    EXPECT_EQ(answers, 0);
}

// On X11 without a portal: the X server's own picture of the whole screen, other windows on it.
TEST(XcbCapture, PicturesTheWholeScreenWhereNoPortalAnswers) {
    if (!XServer::installed())
        GTEST_SKIP() << "Xvfb is not installed";
    XServer display;
    ASSERT_TRUE(display.start());
    PrivateBus sessionBus; // with no portal on it
    QTemporaryDir folder;
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display.display());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), sessionBus.address());
    probe.setProcessEnvironment(environment);
    const QString picture = folder.filePath(QStringLiteral("screen.png"));
    probe.start(QStringLiteral(SCREEN_CAPTURE_PROBE), {picture, kColour.name()});
    ASSERT_TRUE(probe.waitForFinished(30000));
    ASSERT_EQ(probe.exitCode(), 0) << probe.readAllStandardError().toStdString();
    // XServer's 1280×900 screen: the probe's window on its left half, the bare root on the right.
    const QImage screen(picture);
    ASSERT_EQ(screen.size(), QSize(1280, 900));
    EXPECT_EQ(screen.pixelColor(320, 450), kColour);
    EXPECT_NE(screen.pixelColor(960, 450), kColour);
}

struct EncodeRow {
    QSize in, out;
};

class ModelPicture : public testing::TestWithParam<EncodeRow> {};

TEST_P(ModelPicture, IsAJpegWithinSixteenHundredPixels) {
    QImage image(GetParam().in, QImage::Format_RGB32);
    image.fill(kColour);
    const QByteArray jpeg = encodeForModel(image);
    ASSERT_TRUE(jpeg.startsWith("\xFF\xD8\xFF")) << "not a JPEG";
    const QImage decoded = QImage::fromData(jpeg, "JPEG");
    ASSERT_EQ(decoded.size(), GetParam().out);
    const QColor c = decoded.pixelColor(decoded.width() / 2, decoded.height() / 2);
    EXPECT_LE(std::abs(c.red() - 0x33) + std::abs(c.green() - 0x66) + std::abs(c.blue() - 0xcc), 12)
        << c.name().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Sizes, ModelPicture,
                         testing::Values(EncodeRow{{3200, 1800}, {1600, 900}},
                                         EncodeRow{{1800, 3200}, {900, 1600}},
                                         EncodeRow{{800, 600}, {800, 600}}));

} // namespace

#include "ScreenCaptureTest.moc"
