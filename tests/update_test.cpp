#include "app/AppDelegate.h"
#include "app/Document.h"
#include "app/QtServices.h"
#include "app/TMWindow.h"
#include "app/UpdateCheck.h"
#include "support/Harness.h"
#include "ui_Main.h"
#include "update/UpdateList.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace quillfen {
namespace {

using namespace Qt::Literals::StringLiterals;
using testing::FakeVolumes;
using testing::FixedClock;
using testing::ScriptedTools;

const std::string kBase = "https://downloads.quillfen.example/";

std::string offerText(const std::string& version)
{
    return "An update to this app to version " + version + " is available.";
}

struct Entry {
    std::string app, version, url;
};

std::string plistOf(const std::vector<Entry>& entries)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><array>";
    for (const Entry& e : entries)
        xml += "<dict><key>AppName</key><string>" + e.app + "</string><key>Version</key><string>" + e.version +
               "</string><key>URL</key><string>" + e.url + "</string></dict>";
    return xml + "</array></plist>\n";
}

void appendBigEndian(std::string& out, std::uint64_t value, int bytes)
{
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xFF);
}

// A binary list of `depth` arrays, each holding the next; with `cycle` the innermost holds the outermost.
std::string nestedBinaryList(std::uint32_t depth, bool cycle = false)
{
    std::string out = "bplist00";
    std::vector<std::uint64_t> offsets;
    for (std::uint32_t i = 0; i < depth; ++i) {
        offsets.push_back(out.size());
        if (i + 1 == depth && !cycle) {
            out += '\xA0';
            continue;
        }
        out += '\xA1';
        appendBigEndian(out, i + 1 == depth ? 0 : i + 1, 4);
    }
    const std::uint64_t table = out.size();
    for (const std::uint64_t offset : offsets)
        appendBigEndian(out, offset, 4);
    out += std::string(6, '\0') + "\x04\x04";
    appendBigEndian(out, depth, 8);
    appendBigEndian(out, 0, 8);
    appendBigEndian(out, table, 8);
    return out;
}

// An XML list whose one Quillfen element carries a member of `depth` nested arrays.
std::string nestedXmlList(std::size_t depth)
{
    std::string open, close;
    for (std::size_t i = 0; i < depth; ++i) {
        open += "<array>";
        close += "</array>";
    }
    return "<plist version=\"1.0\"><array><dict><key>AppName</key><string>Quillfen</string><key>Version</key>"
           "<string>3.0</string><key>URL</key><string>" +
           kBase + "q.dmg</string><key>Extra</key>" + open + close + "</dict></array></plist>";
}

// [{AppName: Quillfen, Version: 3.0, URL: <base>q-3.0.dmg}], written by another program's binary writer.
const QByteArray kBinaryList = QByteArray::fromHex(
    "62706c6973743030a101d3020304050607574170704e616d655355524c5756657273696f6e585175696c6c66656e5f102c68747470733a2f"
    "2f646f776e6c6f6164732e7175696c6c66656e2e6578616d706c652f712d332e302e646d6753332e30080a11191d252e5d00000000000001"
    "01000000000000000800000000000000000000000000000061");

TEST(UpdateResponse, PassesOnlySuccessWithAPlainOrXmlTextType)
{
    const std::tuple<int, std::string_view, bool> cases[] = {
        {299, "text/plain; charset=UTF-8", true},
        {200, " TEXT/XML ;charset=x", true},
        {199, "text/xml", false},
        {300, "text/plain", false},
        {200, "application/xml", false},
        {200, "text/xml-external", false},
        {200, "; text/xml", false},
    };
    for (const auto& [status, contentType, accepted] : cases)
        EXPECT_EQ(isAcceptedUpdateResponse(status, mimeTypeOf(contentType)), accepted) << status << contentType;
}

TEST(BundleInformation, GivesTheShortVersionOnlyAsAString)
{
    const auto dict = [](std::string body) { return "<plist version=\"1.0\"><dict>" + body + "</dict></plist>"; };
    const std::tuple<std::string, BundleVersionStatus, std::string> cases[] = {
        {dict("<key>CFBundleShortVersionString</key><string>1.2</string>"), BundleVersionStatus::Found, "1.2"},
        {dict("<key>CFBundleName</key><string>Quillfen</string>"), BundleVersionStatus::NoVersion, ""},
        {dict("<key>CFBundleShortVersionString</key><real>1.2</real>"), BundleVersionStatus::NoVersion, ""},
        {dict(""), BundleVersionStatus::NoInfo, ""},
        {"<plist version=\"1.0\"><array><string>1.2</string></array></plist>", BundleVersionStatus::NoInfo, ""},
        {"", BundleVersionStatus::NoInfo, ""},
    };
    for (const auto& [info, status, version] : cases) {
        const BundleVersion got = readShortVersion(info);
        EXPECT_EQ(got.status, status) << info;
        EXPECT_EQ(got.version, version) << info;
    }
}

// The server cases below cover the common lists; these are the odd ones.
TEST(UpdateList, OffersThisAppsOtherVersionsInOrder)
{
    struct Case {
        std::string bytes;
        UpdateListStatus status;
        bool listsThisApp;
        std::vector<std::string> offeredVersions;
    };
    const std::string dmg = kBase + "q.dmg";
    const Case cases[] = {
        {plistOf({{"Quillfen", "3.0", dmg}, {"Other", "1", dmg}, {"Quillfen", "2.2", dmg}}),
         UpdateListStatus::Read,
         true,
         {"3.0", "2.2"}},
        {plistOf({{"quillfen", "3.0", dmg}}), UpdateListStatus::Read, false, {}},
        // Odd elements are skipped, but a Quillfen element still marks the check as made.
        {"<plist><array><string>x</string><dict><key>AppName</key><string>Quillfen</string></dict>"
         "<dict><key>AppName</key><string>Quillfen</string><key>Version</key><integer>3</integer>"
         "<key>URL</key><string>" +
             dmg + "</string></dict></array></plist>",
         UpdateListStatus::Read,
         true,
         {}},
        {"<plist><dict><key>AppName</key><string>Quillfen</string></dict></plist>",
         UpdateListStatus::Unreadable,
         false,
         {}},
        {plistOf({{"Quillfen", "3.0", dmg}}).substr(0, 60), UpdateListStatus::Unreadable, false, {}},
        {kBinaryList.left(100).toStdString(), UpdateListStatus::Unreadable, false, {}},
        // Nesting beyond eight containers is refused before decoding: the decoder recurses.
        {nestedXmlList(6), UpdateListStatus::Read, true, {"3.0"}},
        {nestedXmlList(7), UpdateListStatus::TooDeep, false, {}},
        {nestedXmlList(100'000), UpdateListStatus::TooDeep, false, {}},
        {nestedBinaryList(8), UpdateListStatus::Read, false, {}},
        {nestedBinaryList(9), UpdateListStatus::TooDeep, false, {}},
        {nestedBinaryList(90'000), UpdateListStatus::TooDeep, false, {}},
        {nestedBinaryList(3, true), UpdateListStatus::TooDeep, false, {}},
    };
    for (const Case& c : cases) {
        const UpdateList got = readUpdateList(c.bytes, "2.1");
        const std::string shown = c.bytes.substr(0, 200);
        EXPECT_EQ(got.status, c.status) << shown;
        EXPECT_EQ(got.listsThisApp, c.listsThisApp) << shown;
        std::vector<std::string> versions;
        for (const UpdateOffer& offer : got.offers)
            versions.push_back(offer.version);
        EXPECT_EQ(versions, c.offeredVersions) << shown;
    }
}

TEST(DownloadAddress, MustBeginWithTheDownloadBase)
{
    const QUrl base(QString::fromStdString(kBase));
    const std::pair<std::string_view, bool> cases[] = {
        {"https://downloads.quillfen.example/Quillfen-3.0.dmg", true},
        {"HTTPS://Downloads.Quillfen.Example/q.dmg", true},
        {"https://downloads.quillfen.example:443/q.dmg", true},
        {"https://attacker.example/?https://downloads.quillfen.example/", false},
        {"https://downloads.quillfen.example@attacker.example/q.dmg", false},
        {"https://downloads.quillfen.example.attacker.example/q.dmg", false},
        {"https://user@downloads.quillfen.example/q.dmg", false},
        {"https://downloads.quillfen.example:8443/q.dmg", false},
        {"http://downloads.quillfen.example/q.dmg", false},
        {"//downloads.quillfen.example/q.dmg", false},
        {"https://downloads.quillfen.example", false},
        {"", false},
    };
    for (const auto& [address, offered] : cases)
        EXPECT_EQ(downloadAddressWithin(address, base).has_value(), offered) << address;

    const QUrl under(u"https://downloads.quillfen.example/quillfen/"_s);
    EXPECT_TRUE(downloadAddressWithin("https://downloads.quillfen.example/quillfen/q.dmg", under));
    EXPECT_FALSE(downloadAddressWithin("https://downloads.quillfen.example/quillfen/../evil.dmg", under));
    EXPECT_FALSE(downloadAddressWithin("https://downloads.quillfen.example/other/q.dmg", under));

    const QUrl noSlash(u"https://downloads.quillfen.example/quillfen"_s);
    EXPECT_TRUE(downloadAddressWithin("https://downloads.quillfen.example/quillfen/q.dmg", noSlash));
    EXPECT_FALSE(downloadAddressWithin("https://downloads.quillfen.example/quillfen-evil/q.dmg", noSlash));
}

TEST(UpdateAlert, ShowsTheListedVersionAsTheLiteralCharacters)
{
    const std::string version = "<a href=https://attacker.example/>3.0</a> <b>now</b>";
    const auto box = makeChoiceBox(Choice{AlertStyle::Informational, offerText(version), "i", {"Ignore"}}, nullptr);
    int labels = 0;
    for (const QLabel* label : box->findChildren<QLabel*>()) {
        if (label->text().isEmpty())
            continue;
        ++labels;
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
    }
    EXPECT_EQ(labels, 2);
    EXPECT_EQ(box->text().toStdString(), offerText(version));
}

// A self-signed certificate for 127.0.0.1, made once per run; only the tests' requests trust it.
struct TestCertificate {
    QSslCertificate certificate;
    QSslKey key;

    static const TestCertificate& get()
    {
        static const TestCertificate made = [] {
            QTemporaryDir dir;
            QProcess openssl;
            openssl.start(u"openssl"_s,
                          {u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s,
                           u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s, u"-days"_s, u"2"_s, u"-subj"_s,
                           u"/CN=127.0.0.1"_s, u"-addext"_s, u"subjectAltName=IP:127.0.0.1,IP:127.0.0.2"_s,
                           u"-keyout"_s, dir.filePath(u"key.pem"_s), u"-out"_s, dir.filePath(u"cert.pem"_s)});
            openssl.waitForFinished(30000);
            QFile cert(dir.filePath(u"cert.pem"_s));
            QFile key(dir.filePath(u"key.pem"_s));
            if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
                return TestCertificate{QSslCertificate(), QSslKey()};
            return TestCertificate{QSslCertificate(cert.readAll()), QSslKey(key.readAll(), QSsl::Ec)};
        }();
        return made;
    }
};

// What the local server answers to every request.
struct Response {
    QByteArray status = "200 OK";
    QByteArray contentType = "text/xml";
    QByteArray body;
    enum Framing { Exact, Truncated, UntilClose, Never, Trickle } framing = Exact;
    QByteArray location = {};
};

class LocalHttpsServer {
public:
    explicit LocalHttpsServer(Response response, const QHostAddress& host = QHostAddress(QHostAddress::LocalHost))
        : response_(std::move(response))
    {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificate(TestCertificate::get().certificate);
        tls.setPrivateKey(TestCertificate::get().key);
        server_.setSslConfiguration(tls);
        QObject::connect(&server_, &QTcpServer::pendingConnectionAvailable, &server_, [this] { accept(); });
        server_.listen(host);
    }

    QUrl url() const
    {
        return QUrl(u"https://%1:%2/updates.plist"_s.arg(server_.serverAddress().toString()).arg(server_.serverPort()));
    }
    int requests() const { return requests_; }

private:
    void accept()
    {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            auto request = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
                *request += socket->readAll();
                if (request->contains("\r\n\r\n")) {
                    request->clear();
                    ++requests_;
                    answer(*socket);
                }
            });
        }
    }

    void answer(QTcpSocket& socket)
    {
        if (response_.framing == Response::Never)
            return;
        QByteArray head =
            "HTTP/1.1 " + response_.status + "\r\nContent-Type: " + response_.contentType + "\r\nConnection: close\r\n";
        if (response_.framing == Response::Exact)
            head += "Content-Length: " + QByteArray::number(response_.body.size()) + "\r\n";
        if (response_.framing == Response::Truncated || response_.framing == Response::Trickle)
            head += "Content-Length: " + QByteArray::number(response_.body.size() * 2) + "\r\n";
        if (!response_.location.isEmpty())
            head += "Location: " + response_.location + "\r\n";
        if (response_.framing == Response::Trickle) {
            // A byte now and then, never the whole body: each pause is shorter than the transfer timeout.
            socket.write(head + "\r\n");
            auto* drip = new QTimer(&socket);
            QObject::connect(drip, &QTimer::timeout, &socket, [&socket] { socket.write(" "); });
            drip->start(50);
            return;
        }
        socket.write(head + "\r\n" + response_.body);
        socket.disconnectFromHost();
    }

    Response response_;
    QSslServer server_;
    int requests_ = 0;
};

// Answers the update alert from a script, recording every alert.
class ScriptedChoices final : public ChoicePresenter {
public:
    std::size_t runModal(const Choice& choice) override
    {
        shown.push_back(choice);
        return shown.size() <= answers.size() ? answers[shown.size() - 1] : 0;
    }

    std::vector<std::size_t> answers;
    std::vector<Choice> shown;
};

void waitUntil(const std::function<bool()>& done, int milliseconds = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// The delegate with a temporary bundle information file, recorded alerts, and requests that trust only the
// test certificate.
class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(TestCertificate::get().certificate.isNull()) << "openssl could not make a test certificate";
        setBundleInfo("<plist version=\"1.0\"><dict><key>CFBundleShortVersionString</key><string>2.1</string>"
                      "</dict></plist>");
    }

    void setBundleInfo(const QByteArray& info)
    {
        QFile file(bundleInfo());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(info);
    }

    QString bundleInfo() const { return dir.filePath(u"Info.plist"_s); }

    AppDelegate& delegateFor(const QUrl& listUrl, std::chrono::milliseconds deadline = std::chrono::seconds(10))
    {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates({TestCertificate::get().certificate});
        UpdateServices update{choices,
                              [this](const QUrl& url) { opened.push_back(url.toString().toStdString()); },
                              listUrl,
                              QUrl(QString::fromStdString(kBase)),
                              bundleInfo(),
                              tls,
                              std::chrono::seconds(10),
                              deadline,
                              64 * 1024};
        delegate_ = std::make_unique<AppDelegate>(
            ControllerServices{mainQueue, alerts, defaults, clock, tools.runner(), volumes, OsVersion{14, 5}}, "tester",
            std::move(update));
        window_ = &delegate_->newDocument().window();
        auto* network = delegate_->findChild<QNetworkAccessManager*>();
        QObject::connect(network, &QNetworkAccessManager::finished, network, [this] { ++finished; });
        return *delegate_;
    }

    // Runs the event loop until the reply has finished and whatever it queued for the main thread has run.
    void settle()
    {
        waitUntil([this] { return finished > 0; });
        ASSERT_EQ(finished, 1);
        bool drained = false;
        mainQueue.post([&drained] { drained = true; });
        waitUntil([&drained] { return drained; });
        ASSERT_TRUE(drained);
    }

    std::vector<std::string> alertTexts() const
    {
        std::vector<std::string> texts;
        for (const Alert& alert : alerts.alerts())
            texts.push_back(alert.informativeText);
        return texts;
    }

    QString updateItem(TMWindow& window) const
    {
        const QList<QAction*> items = window.form().helpMenu->actions();
        return items.back()->text() + (items.back()->isChecked() ? u" ✓"_s : QString());
    }

    QString updateItem() const { return updateItem(*window_); }

    QTemporaryDir dir;
    QSettings settings{dir.filePath(u"prefs.ini"_s), QSettings::IniFormat};
    SettingsDefaults defaults{settings};
    headless::RecordingAlerts alerts;
    ScriptedChoices choices;
    std::vector<std::string> opened;
    QtMainQueue mainQueue;
    FixedClock clock{Date{1'800'000'000.0}};
    FakeVolumes volumes;
    ScriptedTools tools;
    int finished = 0;

private:
    std::unique_ptr<AppDelegate> delegate_;
    TMWindow* window_ = nullptr;
};

const QString kUnchecked = u"Update not checked"_s;
const QString kChecked = u"Checked for update ✓"_s;

TEST_F(UpdateCheckTest, AnswersOfTheServerDecideWhatTheUserSees)
{
    const std::string dmg = kBase + "Quillfen-3.0.dmg";
    const QByteArray list = QByteArray::fromStdString(plistOf({{"Quillfen", "3.0", dmg}}));
    struct Case {
        const char* name;
        Response response;
        std::vector<std::string> alerts;
        std::vector<std::string> offers;
        QString item;
    };
    LocalHttpsServer elsewhere({"200 OK", "text/xml", list}, QHostAddress(u"127.0.0.2"_s));
    const Case cases[] = {
        {"redirect to another host",
         {"302 Found", "text/xml", {}, Response::Exact, elsewhere.url().toEncoded()},
         {},
         {},
         kUnchecked},
        {"404 with HTML", {"404 Not Found", "text/html", "<html>gone</html>"}, {}, {}, kUnchecked},
        {"application/xml", {"200 OK", "application/xml", list}, {}, {}, kUnchecked},
        {"text/plain with parameters", {"200 OK", "Text/Plain; charset=utf-8", list}, {}, {"3.0"}, kChecked},
        {"not a plist", {"200 OK", "text/plain", "hello <world"}, {"Error in update Property List."}, {}, kUnchecked},
        {"empty array",
         {"200 OK", "text/xml", QByteArray::fromStdString(plistOf({}))},
         {"Update Property List has no entries."},
         {},
         kUnchecked},
        {"another app only",
         {"200 OK", "text/xml", QByteArray::fromStdString(plistOf({{"Other", "3.0", dmg}}))},
         {},
         {},
         kUnchecked},
        {"same version",
         {"200 OK", "text/xml", QByteArray::fromStdString(plistOf({{"Quillfen", "2.1", dmg}}))},
         {},
         {},
         kChecked},
        {"older version",
         {"200 OK", "text/xml", QByteArray::fromStdString(plistOf({{"Quillfen", "2.0", dmg}}))},
         {},
         {"2.0"},
         kChecked},
        {"two entries",
         {"200 OK", "text/xml",
          QByteArray::fromStdString(plistOf({{"Quillfen", "3.0", dmg}, {"Quillfen", "3.1", kBase + "q-3.1.dmg"}}))},
         {},
         {"3.0", "3.1"},
         kChecked},
        {"attack address",
         {"200 OK", "text/xml",
          QByteArray::fromStdString(plistOf({{"Quillfen", "3.0", "https://attacker.example/?" + kBase}}))},
         {},
         {},
         kChecked},
        {"binary plist", {"200 OK", "text/plain", kBinaryList}, {}, {"3.0"}, kChecked},
        {"deeply nested binary plist",
         {"200 OK", "text/plain", QByteArray::fromStdString(nestedBinaryList(5'000))},
         {},
         {},
         kUnchecked},
        {"truncated body", {"200 OK", "text/xml", list, Response::Truncated}, {}, {}, kUnchecked},
        {"huge declared body", {"200 OK", "text/xml", QByteArray(200 * 1024, ' ') + list}, {}, {}, kUnchecked},
        {"huge body until close",
         {"200 OK", "text/xml", QByteArray(200 * 1024, ' ') + list, Response::UntilClose},
         {},
         {},
         kUnchecked},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        alerts = {};
        choices = {};
        finished = 0;
        LocalHttpsServer server(c.response);
        AppDelegate& delegate = delegateFor(server.url());
        delegate.checkForUpdate();
        settle();
        EXPECT_EQ(server.requests(), 1);
        EXPECT_EQ(alertTexts(), c.alerts);
        std::vector<std::string> offered;
        for (const Choice& choice : choices.shown)
            offered.push_back(choice.messageText);
        std::vector<std::string> expected;
        for (const std::string& version : c.offers)
            expected.push_back(offerText(version));
        EXPECT_EQ(offered, expected);
        EXPECT_EQ(updateItem(), c.item);
        EXPECT_EQ(updateItem(delegate.newDocument().window()), c.item) << "a new window shows it too";
        EXPECT_TRUE(opened.empty());
    }
    EXPECT_EQ(elsewhere.requests(), 0);
}

TEST_F(UpdateCheckTest, DownloadOpensTheListedAddressAndIgnoreNothing)
{
    LocalHttpsServer server({"200 OK", "text/xml",
                             QByteArray::fromStdString(plistOf({{"Quillfen", "3.0", kBase + "q-3.0.dmg"},
                                                                {"Quillfen", "3.1", kBase + "q-3.1.dmg"}}))});
    choices.answers = {0, 1};
    delegateFor(server.url()).checkForUpdate();
    settle();
    ASSERT_EQ(choices.shown.size(), 2u);
    const Choice& second = choices.shown[1];
    EXPECT_EQ(second.style, AlertStyle::Informational);
    EXPECT_EQ(second.messageText, "An update to this app to version 3.1 is available.");
    EXPECT_EQ(second.informativeText, "You are currently running Quillfen version 2.1.\nPlease choose whether to "
                                      "download this update now in your default browser.");
    EXPECT_EQ(second.buttons, (std::vector<std::string>{"Ignore", "Download"}));
    EXPECT_EQ(opened, std::vector<std::string>{kBase + "q-3.1.dmg"});
}

TEST_F(UpdateCheckTest, BundleInformationDecidesWhetherToAsk)
{
    const std::pair<QByteArray, std::vector<std::string>> cases[] = {
        {"", {}},
        {"<plist><dict/></plist>", {}},
        {"<plist><dict><key>CFBundleName</key><string>Quillfen</string></dict></plist>",
         {"Can't check for updates:\nNo app version string found."}},
    };
    for (const auto& [info, texts] : cases) {
        alerts = {};
        setBundleInfo(info);
        LocalHttpsServer server({});
        delegateFor(server.url()).checkForUpdate();
        waitUntil([] { return false; }, 200);
        EXPECT_EQ(server.requests(), 0) << info.toStdString();
        EXPECT_EQ(alertTexts(), texts) << info.toStdString();
    }
}

TEST_F(UpdateCheckTest, AServerThatTricklesEndsSilentlyAtTheDeadline)
{
    LocalHttpsServer server({"200 OK", "text/xml", QByteArray(1000, ' '), Response::Trickle});
    delegateFor(server.url(), std::chrono::milliseconds(600)).checkForUpdate();
    EXPECT_EQ(finished, 0) << "the request runs on the event loop, not before the check returns";
    settle();
    EXPECT_EQ(server.requests(), 1);
    EXPECT_TRUE(alerts.alerts().empty());
    EXPECT_TRUE(choices.shown.empty());
    EXPECT_EQ(updateItem(), kUnchecked);
}

} // namespace
} // namespace quillfen
