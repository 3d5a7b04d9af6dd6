#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <optional>

#include "app/DesktopPortal.h"
#include "imaging/Usr_wic.h"

namespace lumivore {
namespace {

using Shot = Platform::DesktopShot;

constexpr char kService[] = "org.freedesktop.portal.Desktop";
constexpr char kPath[] = "/org/freedesktop/portal/desktop";

// A portal of the tests' own: answers Screenshot on the request object it
// was told of, as the desktop's portal does, with what the test set.
class FakePortal : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Screenshot")

 public:
  explicit FakePortal(QDBusConnection bus) : bus_(std::move(bus)) {}

  // What the next Screenshot gets: nullopt leaves it unanswered.
  std::optional<std::pair<uint, QVariantMap>> answer;
  // Leaves the bus instead of answering.
  bool leave = false;
  // What the last call asked for.
  QString parentWindow;
  QVariantMap options;
  QString requestPath;

 public slots:
  QDBusObjectPath Screenshot(const QString& parent, const QVariantMap& opts) {
    parentWindow = parent;
    options = opts;
    QString sender = message().service().mid(1);
    sender.replace('.', '_');
    requestPath =
        QString("%1/request/%2/%3").arg(kPath, sender, opts.value("handle_token").toString());
    // The answer comes after the call returned, as the user chooses.
    QMetaObject::invokeMethod(
        this, [this, path = requestPath] { Answer(path); }, Qt::QueuedConnection);
    return QDBusObjectPath(requestPath);
  }

 private:
  void Answer(const QString& path) {
    if (leave) {
      bus_.unregisterService(kService);
      return;
    }
    if (!answer) return;
    QDBusMessage signal =
        QDBusMessage::createSignal(path, "org.freedesktop.portal.Request", "Response");
    signal << answer->first << answer->second;
    bus_.send(signal);
  }

  QDBusConnection bus_;
};

class DesktopPortalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
    ASSERT_TRUE(daemon_.waitForStarted(10000)) << "dbus-daemon is not installed";
    ASSERT_TRUE(QTest::qWaitFor([&] { return daemon_.canReadLine(); }, 10000));
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    static int n = 0;
    const QString id = QString::number(++n);
    client_.emplace(QDBusConnection::connectToBus(address_, "client" + id));
    service_.emplace(QDBusConnection::connectToBus(address_, "portal" + id));
    ASSERT_TRUE(client_->isConnected());
    ASSERT_TRUE(service_->isConnected());
    portal_ = std::make_unique<FakePortal>(*service_);
  }
  void TearDown() override {
    asker_.reset();
    portal_.reset();
    QDBusConnection::disconnectFromBus(client_->name());
    QDBusConnection::disconnectFromBus(service_->name());
    daemon_.kill();
    daemon_.waitForFinished(5000);
  }

  // Puts the tests' portal on the bus.
  void offerPortal() {
    ASSERT_TRUE(service_->registerObject(kPath, portal_.get(), QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service_->registerService(kService));
  }
  // Asks through a DesktopPortal on the client's connection and waits for
  // the outcome.
  std::pair<Shot, Bitmap> ask(int timeoutMs = 20000) {
    asker_ = std::make_unique<DesktopPortal>(*client_, timeoutMs);
    std::optional<std::pair<Shot, Bitmap>> outcome;
    asker_->screenshot([&](Shot s, Bitmap b) { outcome.emplace(s, std::move(b)); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return outcome.has_value(); }, 30000));
    return outcome.value_or(std::make_pair(Shot::Failed, Bitmap{}));
  }
  QString path(const char* name) const { return dir_.filePath(name); }
  // Sends a Response on the last request object, from connection `from`.
  void respond(QDBusConnection& from, uint code, const QVariantMap& results) {
    QDBusMessage signal = QDBusMessage::createSignal(portal_->requestPath,
                                                     "org.freedesktop.portal.Request", "Response");
    signal << code << results;
    from.send(signal);
  }
  static QVariantMap Uri(const QString& uri) { return {{"uri", uri}}; }

  QTemporaryDir dir_;
  QProcess daemon_;
  QString address_;
  std::optional<QDBusConnection> client_, service_;
  std::unique_ptr<FakePortal> portal_;
  std::unique_ptr<DesktopPortal> asker_;
};

Bitmap Picture() {
  Bitmap b;
  b.allocate(7, 5, PixelFormat::Bgr24);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) b.setPixel(x, y, MakeRgb(x * 30, y * 50, 200));
  return b;
}

TEST_F(DesktopPortalTest, APictureComes_FromTheLocalFileTheAnswerNames_WhichStays) {
  offerPortal();
  const QString file = path("shot 1.png");
  ASSERT_TRUE(WicSaveImage(file.toStdString(), Picture(), 90, 0, 0));
  portal_->answer = std::make_pair(0u, Uri("file://" + dir_.path() + "/shot%201.png"));
  const auto [shot, picture] = ask();
  EXPECT_EQ(shot, Shot::Taken);
  EXPECT_EQ(picture, Picture());
  EXPECT_TRUE(QFile::exists(file));
  // The request as the portal defines it: no parent window, the user's
  // choice, and the token that names the request object.
  EXPECT_EQ(portal_->parentWindow, "");
  EXPECT_EQ(portal_->options.value("interactive"), QVariant(true));
  EXPECT_FALSE(portal_->options.value("handle_token").toString().isEmpty());
}

struct AnswerCase {
  const char* name;
  uint response;
  const char* uri;  // "%1" stands for the test's folder
  Shot expected;
};

class PortalAnswer : public DesktopPortalTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(PortalAnswer, GivesNoPictureUnlessALocalImageFileCame) {
  offerPortal();
  ASSERT_TRUE(WicSaveImage(path("shot.png").toStdString(), Picture(), 90, 0, 0));
  QFile text(path("notes.txt"));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("no picture");
  text.close();
  ASSERT_EQ(mkfifo(path("pipe").toLocal8Bit().constData(), 0600), 0);
  portal_->answer = std::make_pair(
      GetParam().response, Uri(QString::fromUtf8(GetParam().uri).replace("%1", dir_.path())));
  const auto [shot, picture] = ask();
  EXPECT_EQ(shot, GetParam().expected);
  EXPECT_TRUE(picture.empty());
}

INSTANTIATE_TEST_SUITE_P(
    DesktopPortal, PortalAnswer,
    ::testing::Values(AnswerCase{"Cancelled", 1, "file://%1/shot.png", Shot::Cancelled},
                      AnswerCase{"OtherError", 2, "file://%1/shot.png", Shot::Failed},
                      AnswerCase{"UnknownResponse", 7, "file://%1/shot.png", Shot::Failed},
                      AnswerCase{"NoUri", 0, "", Shot::Failed},
                      AnswerCase{"RemoteUri", 0, "https://example.org%1/shot.png", Shot::Failed},
                      AnswerCase{"OtherHost", 0, "file://elsewhere%1/shot.png", Shot::Failed},
                      AnswerCase{"RelativeName", 0, "file:shot.png", Shot::Failed},
                      AnswerCase{"NoSuchFile", 0, "file://%1/gone.png", Shot::Failed},
                      AnswerCase{"NotAnImage", 0, "file://%1/notes.txt", Shot::Failed},
                      // A pipe would block the reader until someone writes.
                      AnswerCase{"APipe", 0, "file://%1/pipe", Shot::Failed},
                      AnswerCase{"AFolder", 0, "file://%1", Shot::Failed}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DesktopPortalTest, NoPortalOnTheBus_IsUnavailable) {
  EXPECT_EQ(ask().first, Shot::Unavailable);
}

TEST_F(DesktopPortalTest, APortalWithoutScreenshots_IsUnavailable) {
  // The portal's name and object are there, without that interface.
  QObject bare;
  ASSERT_TRUE(service_->registerObject(kPath, &bare, QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(service_->registerService(kService));
  EXPECT_EQ(ask().first, Shot::Unavailable);
}

TEST_F(DesktopPortalTest, NoAnswerInTime_Fails) {
  offerPortal();
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(ask(300).first, Shot::Failed);
  // Not before its time (a coarse timer may fire up to 5 % early).
  EXPECT_GE(clock.elapsed(), 280);
}

TEST_F(DesktopPortalTest, APortalLeavingTheBus_Fails) {
  offerPortal();
  portal_->leave = true;
  // At once, not at the timeout.
  EXPECT_EQ(ask(60000).first, Shot::Failed);
}

TEST_F(DesktopPortalTest, AnswersFromAnotherProgram_AreIgnored) {
  offerPortal();
  ASSERT_TRUE(WicSaveImage(path("shot.png").toStdString(), Picture(), 90, 0, 0));
  QDBusConnection other = QDBusConnection::connectToBus(address_, "intruder");
  asker_ = std::make_unique<DesktopPortal>(*client_, 20000);
  std::optional<Shot> outcome;
  asker_->screenshot([&](Shot s, Bitmap) { outcome = s; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return !portal_->requestPath.isEmpty(); }, 10000));
  // Another program answers on the request object first.
  respond(other, 0, Uri("file://" + path("shot.png")));
  QTest::qWait(300);
  EXPECT_FALSE(outcome.has_value());
  // The portal's own answer counts.
  respond(*service_, 1, {});
  EXPECT_TRUE(QTest::qWaitFor([&] { return outcome.has_value(); }, 10000));
  EXPECT_EQ(outcome, Shot::Cancelled);
  QDBusConnection::disconnectFromBus("intruder");
}

TEST_F(DesktopPortalTest, OneRequestAtATime_AndTheNextAfterIt) {
  offerPortal();
  asker_ = std::make_unique<DesktopPortal>(*client_, 20000);
  std::optional<Shot> first, second;
  asker_->screenshot([&](Shot s, Bitmap) { first = s; });
  asker_->screenshot([&](Shot s, Bitmap) { second = s; });
  EXPECT_EQ(second, Shot::Failed);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !portal_->requestPath.isEmpty(); }, 10000));
  respond(*service_, 1, {});
  ASSERT_TRUE(QTest::qWaitFor([&] { return first.has_value(); }, 10000));
  EXPECT_EQ(first, Shot::Cancelled);
  // Another request gets its own request object and answer.
  const QString before = portal_->requestPath;
  portal_->answer = std::make_pair(2u, QVariantMap());
  std::optional<Shot> third;
  asker_->screenshot([&](Shot s, Bitmap) { third = s; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return third.has_value(); }, 10000));
  EXPECT_EQ(third, Shot::Failed);
  EXPECT_NE(portal_->requestPath, before);
}

}  // namespace
}  // namespace lumivore

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

#include "DesktopPortalTest.moc"
