// The download component on its own, against HTTP servers the tests run on
// 127.0.0.1.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest/QTest>
#include <memory>

#include "tests/update/LocalHttpServer.h"
#include "tests/update/TestCertificate.h"
#include "update/TclDownLoader.h"

namespace {

QCoreApplication& App() {
  static int argc = 1;
  static char name[] = "test_download";
  static char* argv[] = {name, nullptr};
  static auto* app = new QCoreApplication(argc, argv);
  return *app;
}

QByteArray Body(int size) {
  QByteArray body(size, '\0');
  for (int i = 0; i < size; ++i) body[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
  return body;
}

// One fetch and what it must end with; an empty `stored` means no file.
struct FetchCase {
  QString url;
  TclProcessStatus result;
  QByteArray stored;
};

class DownLoaderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { App(); }  // before the fixture's server
  void SetUp() override {
    testhttp::NoProxyFromEnvironment();
    ASSERT_TRUE(server_.Listening());
    ASSERT_TRUE(folder_.isValid());
  }

  // Records every status and whether it came on the main thread.
  void Watch(TclDownLoader& loader) {
    QObject::connect(&loader, &TclDownLoader::OnStatusChanged, &loader,
                     [this, &loader](QObject* sender, TclProcessStatus status) {
                       statuses_.push_back(status);
                       if (QThread::currentThread() != App().thread()) offMainThread_ = true;
                       if (sender != &loader) wrongSender_ = true;
                     });
  }
  void Prepare(TclDownLoader& loader, const QString& url) {
    Watch(loader);
    loader.SetLocalFolder(folder_.path());
    loader.SetLocalFile(QStringLiteral("data.bin"));
    loader.SetURL(url);
  }
  static bool WaitForEnd(TclDownLoader& loader, int ms = 5000) {
    return QTest::qWaitFor([&loader] { return loader.Status() != psProcess; }, ms);
  }
  QStringList Files() const {
    return QDir(folder_.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
  }
  QByteArray Stored() const {
    QFile file(QDir(folder_.path()).filePath(QStringLiteral("data.bin")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  // Runs `c` into an emptied folder: its last status and the file it left.
  void Fetch(const FetchCase& c) {
    for (const QString& f : Files()) QFile::remove(QDir(folder_.path()).filePath(f));
    statuses_.clear();
    TclDownLoader loader;
    Prepare(loader, c.url);
    loader.Start(false);
    ASSERT_FALSE(statuses_.empty());
    EXPECT_EQ(statuses_.back(), c.result);
    EXPECT_EQ(loader.Status(), c.result);
    if (c.stored.isEmpty()) {
      EXPECT_TRUE(Files().isEmpty()) << Files().join(' ').toStdString();
    } else {
      EXPECT_EQ(Stored(), c.stored);
      EXPECT_EQ(Files().size(), 1);
    }
  }
  void ExpectMainThreadOnly() const {
    EXPECT_FALSE(offMainThread_) << "a status was raised off the main thread";
    EXPECT_FALSE(wrongSender_);
  }

  testhttp::LocalHttpServer server_;
  QTemporaryDir folder_;
  std::vector<TclProcessStatus> statuses_;
  bool offMainThread_ = false;
  bool wrongSender_ = false;
};

TEST_F(DownLoaderTest, SuccessStoresTheWholeBodyPrivatelyAndReportsInOrder) {
  const QByteArray body = Body(300000);  // several reads' worth
  server_.Serve(QStringLiteral("/big.bin"), {.body = body});
  {  // an older copy at the target is replaced
    QFile old(QDir(folder_.path()).filePath(QStringLiteral("data.bin")));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old contents");
  }
  TclDownLoader loader;
  Prepare(loader, server_.Url(QStringLiteral("/big.bin")));
  loader.Start(false);

  EXPECT_EQ(statuses_, (std::vector<TclProcessStatus>{psProcess, psSuccess}));
  ExpectMainThreadOnly();
  EXPECT_EQ(Files(), QStringList{QStringLiteral("data.bin")}) << "no temporary file is left";
  EXPECT_TRUE(Stored() == body) << "stored " << Stored().size() << " of " << body.size() << " bytes";
  const auto mode = QFile::permissions(QDir(folder_.path()).filePath(QStringLiteral("data.bin")));
  EXPECT_EQ(mode.toInt() & 0x0077, 0) << "readable by its owner alone";
}

TEST_F(DownLoaderTest, AnswersThatAreNotTheResourceLeaveNoFile) {
  testhttp::LocalHttpServer second;
  ASSERT_TRUE(second.Listening());
  second.Serve(QStringLiteral("/moved.bin"), {.body = "moved here"});
  server_.Serve(QStringLiteral("/missing"), {.status = 404, .body = "<html>Not Found</html>"});
  server_.Serve(QStringLiteral("/broken"), {.status = 500, .body = "<html>Server Error</html>"});
  server_.Serve(QStringLiteral("/redirect"),
                {.status = 302, .location = second.Url(QStringLiteral("/moved.bin")).toLatin1()});
  server_.Serve(QStringLiteral("/to-missing"), {.status = 302, .location = "/missing"});
  // Chains of redirects: /chain6 -> /chain5 -> ... -> /chain0, which
  // serves the file. 5 redirects are followed, a 6th is refused.
  server_.Serve(QStringLiteral("/chain0"), {.body = "end of chain"});
  for (int i = 1; i <= 6; ++i) {
    server_.Serve(QStringLiteral("/chain%1").arg(i),
                  {.status = 302, .location = QStringLiteral("/chain%1").arg(i - 1).toLatin1()});
  }
  const FetchCase cases[] = {
      {server_.Url(QStringLiteral("/redirect")), psSuccess, "moved here"},
      {server_.Url(QStringLiteral("/missing")), psErrors, {}},
      {server_.Url(QStringLiteral("/broken")), psErrors, {}},
      {server_.Url(QStringLiteral("/to-missing")), psErrors, {}},
      {server_.Url(QStringLiteral("/chain5")), psSuccess, "end of chain"},
      {server_.Url(QStringLiteral("/chain6")), psErrors, {}},
      {testhttp::LocalHttpServer::RefusingUrl(QStringLiteral("/x")), psFailed, {}},
      {QStringLiteral("ftp://127.0.0.1/x"), psErrors, {}},
      {QStringLiteral("not an address"), psErrors, {}},
  };
  for (const FetchCase& c : cases) {
    SCOPED_TRACE(c.url.toStdString());
    Fetch(c);
  }
  ExpectMainThreadOnly();
}

TEST_F(DownLoaderTest, TheProxyNamedInTheEnvironmentCarriesTheRequest) {
  // A host that cannot be reached directly: only the proxy can answer.
  const QString url = QStringLiteral("http://updates.invalid/Nullifex/version.dat");
  // A proxy is asked with the whole address as the request target.
  server_.Serve(url, {.body = "3.0.0006"});
  qputenv("http_proxy", server_.Url(QString()).toLatin1());
  TclDownLoader loader;
  Prepare(loader, url);
  loader.Start(false);
  qunsetenv("http_proxy");
  EXPECT_EQ(statuses_, (std::vector<TclProcessStatus>{psProcess, psSuccess}));
  EXPECT_EQ(server_.Requests(), std::vector<QString>{url});
  EXPECT_EQ(Stored(), QByteArray("3.0.0006"));
}

TEST_F(DownLoaderTest, HttpsIsFetchedAndNeverLeftForPlainHttp) {
  testhttp::TrustTestCertificate();
  testhttp::LocalHttpServer secure(testhttp::TestServerTls());
  ASSERT_TRUE(secure.Listening());
  secure.Serve(QStringLiteral("/version.dat"), {.body = "over tls"});
  secure.Serve(QStringLiteral("/to-plain"),
               {.status = 302, .location = server_.Url(QStringLiteral("/version.dat")).toLatin1()});
  server_.Serve(QStringLiteral("/version.dat"), {.body = "in the clear"});
  server_.Serve(QStringLiteral("/to-secure"),
                {.status = 302, .location = secure.Url(QStringLiteral("/version.dat")).toLatin1()});
  const FetchCase cases[] = {
      {secure.Url(QStringLiteral("/version.dat")), psSuccess, "over tls"},
      {server_.Url(QStringLiteral("/to-secure")), psSuccess, "over tls"},
      // Leaving https for http would hand the answer to anyone on the way.
      {secure.Url(QStringLiteral("/to-plain")), psErrors, {}},
  };
  for (const FetchCase& c : cases) {
    SCOPED_TRACE(c.url.toStdString());
    Fetch(c);
    EXPECT_EQ(statuses_, (std::vector<TclProcessStatus>{psProcess, c.result}));
  }
  EXPECT_EQ(server_.Requests(), std::vector<QString>{QStringLiteral("/to-secure")})
      << "the plain server is never asked for the file";
  ExpectMainThreadOnly();
}

TEST_F(DownLoaderTest, StopAndDestructionAbandonAHalfDoneTransferAndLeaveNoFile) {
  // More than a file buffer's worth arrives, so part of it is on the disk.
  server_.Serve(QStringLiteral("/slow.bin"), {.body = Body(200000), .stallAfter = 60000});
  // The data in flight may have no name in the folder at all (O_TMPFILE);
  // the server having sent its part, and a moment for it to arrive, is
  // what the test can see.
  const auto partialDataArrived = [this](size_t requests) {
    if (!QTest::qWaitFor([&] { return server_.Requests().size() >= requests; }, 5000)) return false;
    QTest::qWait(200);
    return true;
  };

  TclDownLoader loader;
  Prepare(loader, server_.Url(QStringLiteral("/slow.bin")));
  loader.Start(true);
  EXPECT_EQ(loader.Status(), psProcess) << "Start returns at once";
  ASSERT_TRUE(partialDataArrived(1));
  ASSERT_EQ(loader.Status(), psProcess) << "still waiting for the rest";
  EXPECT_FALSE(Files().contains(QStringLiteral("data.bin"))) << "named only once complete";
  loader.Stop();
  EXPECT_EQ(statuses_, (std::vector<TclProcessStatus>{psProcess, psTerminated}));
  EXPECT_TRUE(Files().isEmpty()) << Files().join(' ').toStdString();
  QTest::qWait(50);
  EXPECT_EQ(statuses_.size(), 2u) << "nothing is reported after Stop";

  statuses_.clear();
  {
    auto dying = std::make_unique<TclDownLoader>();
    Prepare(*dying, server_.Url(QStringLiteral("/slow.bin")));
    dying->Start(true);
    ASSERT_TRUE(partialDataArrived(2));
  }
  EXPECT_EQ(statuses_, std::vector<TclProcessStatus>{psProcess}) << "destruction reports nothing";
  EXPECT_TRUE(Files().isEmpty()) << Files().join(' ').toStdString();
  ExpectMainThreadOnly();
}

TEST_F(DownLoaderTest, ATimeOutIsReportedAsAFailure) {
  server_.Serve(QStringLiteral("/silent"), {.body = "never sent", .silent = true});
  server_.Serve(QStringLiteral("/stalls"), {.body = Body(5000), .stallAfter = 100});
  for (const char* path : {"/silent", "/stalls"}) {
    SCOPED_TRACE(path);
    statuses_.clear();
    TclDownLoader loader;
    Prepare(loader, server_.Url(QString::fromLatin1(path)));
    loader.SetTimeOut(300);
    QElapsedTimer clock;
    clock.start();
    loader.Start(true);
    ASSERT_TRUE(WaitForEnd(loader));
    EXPECT_GE(clock.elapsed(), 250) << "not before the time-out (a coarse timer)";
    EXPECT_EQ(statuses_, (std::vector<TclProcessStatus>{psProcess, psFailed}));
    EXPECT_TRUE(Files().isEmpty()) << Files().join(' ').toStdString();
  }
  ExpectMainThreadOnly();
}

}  // namespace
